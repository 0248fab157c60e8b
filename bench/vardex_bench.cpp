// vardex_bench.exe hooks|presence|footprint|sets [options]: the Windows side of
// tools/bench. Each subcommand measures a figure next to its baseline in the
// same run and prints table rows: figure | baseline | measured | note, every
// cell "median (min..max)" over the runs. The groups live one to a file
// (vardex_bench.h names them); this file only dispatches.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "vardex_bench.h"
#include "win32/com_apartment.h"
#include "win32/result.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: vardex_bench hooks|hooks64 [rounds] [messages]\n"
               "       vardex_bench latency|latency64 [rounds] [samples]\n"
               "       vardex_bench presence [checks] [process counts...]\n"
               "       vardex_bench footprint [rounds] [iterations]\n"
               "       vardex_bench sets|sets64 [rounds] [sets]\n"
               "       vardex_bench hung [rounds]\n");
  return 2;
}

int Run(HINSTANCE instance, int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  const std::wstring command = argv[1];
  auto arg = [&](int i, long fallback) { return argc > i ? std::wcstol(argv[i], nullptr, 10) : fallback; };
  const win32::com_apartment com;
  if (command == L"hooks" || command == L"hooks64")
    return bench::RunHooks(arg(2, 5), arg(3, 10000), command == L"hooks64");
  if (command == L"latency" || command == L"latency64")
    return bench::RunLatency(arg(2, 5), arg(3, 1000), command == L"latency64");
  if (command == L"presence") {
    std::vector<int> levels;
    for (int i = 3; i < argc; ++i) levels.push_back(std::wcstol(argv[i], nullptr, 10));
    if (levels.empty()) levels = {25, 100, 250};
    return bench::RunPresence(instance, levels, arg(2, 15));
  }
  if (command == L"footprint") return bench::RunFootprint(arg(2, 3), arg(3, 10000));
  if (command == L"sets" || command == L"sets64") return bench::RunSets(arg(2, 5), arg(3, 20), command == L"sets64");
  if (command == L"hung") return bench::RunHungHelper(arg(2, 5));
  return Usage();
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** const argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const win32::unique_hlocal argv_block(argv);
  if (!argv) return 1;
  int rc = 1;
  try {
    rc = Run(::GetModuleHandleW(nullptr), argc, argv);
  } catch (...) {
    win32::report_exception("vardex_bench's wmain");
    std::fprintf(stderr, "vardex_bench: unexpected failure\n");
  }
  return rc;
}

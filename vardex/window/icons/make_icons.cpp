// Draws the window's ten icons from their geometry and writes them as .ico
// files (32 x 32, 16 colours, with an AND mask) into the directory given as
// the only argument:
//   smiley.ico       yellow face: the window's and the program's icon
//   timer_off.ico    silver face with a short flat mouth (picTimerOff)
//   timer_on.ico     silver dial with a red hand at 12 o'clock (picTimerOn)
//   dial1.ico .. dial7.ico   red sector from 12 o'clock clockwise over k/8
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;
constexpr double kPi = 3.14159265358979323846;

// The standard 16-colour palette, in the order the system uses for 4-bit DIBs.
enum Colour : std::uint8_t {
  kBlack = 0, kMaroon, kGreen, kOlive, kNavy, kPurple, kTeal, kSilver,
  kGrey, kRed, kLime, kYellow, kBlue, kFuchsia, kAqua, kWhite,
};
constexpr std::uint32_t kPalette[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

// Pixel (x, y) is the square whose centre is (x + 0.5, y + 0.5); the disc is
// centred on the middle of the 32 x 32 square, which lies between pixels.
constexpr double kCentre = kSize / 2.0;
constexpr double kRadius = kSize / 2.0;

double Dx(int x) { return x + 0.5 - kCentre; }
double Dy(int y) { return y + 0.5 - kCentre; }

bool InDisc(int x, int y) {
  if (x < 0 || y < 0 || x >= kSize || y >= kSize) return false;
  return std::hypot(Dx(x), Dy(y)) < kRadius;
}

// A disc pixel with a neighbour outside the disc: the one-pixel outline.
bool OnOutline(int x, int y) {
  return InDisc(x, y) &&
         (!InDisc(x - 1, y) || !InDisc(x + 1, y) || !InDisc(x, y - 1) || !InDisc(x, y + 1));
}

struct Image {
  Colour pixel[kSize][kSize] = {};  // [y][x], y = 0 at the top
  bool transparent[kSize][kSize] = {};
};

bool InEllipse(int x, int y, double cx, double cy, double rx, double ry) {
  const double u = (x + 0.5 - cx) / rx, v = (y + 0.5 - cy) / ry;
  return u * u + v * v <= 1.0;
}

// Two upright oval eyes, shared by both faces.
bool InEye(int x, int y) {
  return InEllipse(x, y, 11.5, 12.0, 1.8, 3.2) || InEllipse(x, y, 20.5, 12.0, 1.8, 3.2);
}

// The broad smile: the lower part of a ring two pixels thick.
bool InSmile(int x, int y) {
  const double d = std::hypot(x + 0.5 - kCentre, y + 0.5 - 15.0);
  return d >= 8.0 && d < 10.2 && y + 0.5 > 19.0;
}

// The short, nearly flat mouth: a two-pixel bar with one-pixel ends.
bool InFlatMouth(int x, int y) {
  if (x >= 12 && x <= 19 && (y == 22 || y == 23)) return true;
  return (x == 11 || x == 20) && y == 22;
}

// Clockwise angle from 12 o'clock, in [0, 2 pi).
double ClockAngle(int x, int y) {
  double a = std::atan2(Dx(x), -Dy(y));
  if (a < 0) a += 2 * kPi;
  return a;
}

template <typename Fill>
Image Draw(Fill fill) {
  Image img;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      if (!InDisc(x, y)) {
        img.transparent[y][x] = true;
        img.pixel[y][x] = kBlack;
      } else if (OnOutline(x, y)) {
        img.pixel[y][x] = kBlack;
      } else {
        img.pixel[y][x] = fill(x, y);
      }
    }
  return img;
}

Image Smiley() {
  return Draw([](int x, int y) { return InEye(x, y) || InSmile(x, y) ? kBlack : kYellow; });
}

Image TimerOff() {
  return Draw([](int x, int y) { return InEye(x, y) || InFlatMouth(x, y) ? kBlack : kSilver; });
}

Image TimerOn() {
  return Draw([](int x, int y) { return (x == 15 || x == 16) && y < kSize / 2 ? kRed : kSilver; });
}

Image Dial(int eighths) {
  return Draw([eighths](int x, int y) {
    return ClockAngle(x, y) < eighths * kPi / 4 ? kRed : kSilver;
  });
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// An .ico file with one 32 x 32 4-bit image: ICONDIR, ICONDIRENTRY, then the
// DIB (header of double height, palette, colour rows, mask rows, bottom-up).
std::vector<std::uint8_t> Encode(const Image& img) {
  constexpr std::uint32_t kXorRow = kSize / 2;                 // 4 bits per pixel
  constexpr std::uint32_t kAndRow = ((kSize + 31) / 32) * 4;  // 1 bit, DWORD-aligned
  constexpr std::uint32_t kDibSize = 40 + 16 * 4 + kXorRow * kSize + kAndRow * kSize;

  std::vector<std::uint8_t> out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // type: icon
  Put16(out, 1);  // one image
  out.push_back(kSize);
  out.push_back(kSize);
  out.push_back(16);  // colours
  out.push_back(0);
  Put16(out, 1);  // planes
  Put16(out, 4);  // bits per pixel
  Put32(out, kDibSize);
  Put32(out, 6 + 16);  // offset of the DIB

  Put32(out, 40);
  Put32(out, kSize);
  Put32(out, kSize * 2);  // colour rows and mask rows
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, 0);  // BI_RGB
  Put32(out, kXorRow * kSize + kAndRow * kSize);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 16);
  Put32(out, 0);
  for (std::uint32_t rgb : kPalette) {
    out.push_back(static_cast<std::uint8_t>(rgb));        // blue
    out.push_back(static_cast<std::uint8_t>(rgb >> 8));   // green
    out.push_back(static_cast<std::uint8_t>(rgb >> 16));  // red
    out.push_back(0);
  }
  for (int y = kSize - 1; y >= 0; --y)
    for (int x = 0; x < kSize; x += 2)
      out.push_back(static_cast<std::uint8_t>((img.pixel[y][x] << 4) | img.pixel[y][x + 1]));
  for (int y = kSize - 1; y >= 0; --y)
    for (std::uint32_t byte = 0; byte < kAndRow; ++byte) {
      std::uint8_t bits = 0;
      for (int bit = 0; bit < 8; ++bit) {
        const int x = static_cast<int>(byte) * 8 + bit;
        if (x < kSize && img.transparent[y][x]) bits |= static_cast<std::uint8_t>(0x80 >> bit);
      }
      out.push_back(bits);
    }
  return out;
}

bool Write(const std::string& dir, const std::string& name, const Image& img) {
  const std::vector<std::uint8_t> bytes = Encode(img);
  std::ofstream f(dir + "/" + name, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  f.close();
  if (!f) {
    std::fprintf(stderr, "make_icons: cannot write %s/%s\n", dir.c_str(), name.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icons <output directory>\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = Write(dir, "smiley.ico", Smiley()) && Write(dir, "timer_off.ico", TimerOff()) &&
            Write(dir, "timer_on.ico", TimerOn());
  for (int k = 1; ok && k <= 7; ++k) ok = Write(dir, "dial" + std::to_string(k) + ".ico", Dial(k));
  return ok ? 0 : 1;
}

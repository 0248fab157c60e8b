' A late-bound client that knows nothing of Tessik but its ProgID and
' member names.
Option Explicit
On Error Resume Next

Sub Check(ok, code, what)
  If Not ok Then
    WScript.Echo "failed: " & what & " (Err " & Hex(Err.Number) & " " & Err.Description & ")"
    WScript.Quit code
  End If
End Sub

Dim hook, again, path
Set hook = CreateObject("Hooks.MouseKeyboard")
Check Err.Number = 0, 2, "CreateObject(""Hooks.MouseKeyboard"")"
Set again = CreateObject("Hooks.MouseKeyboard.1")
Check Err.Number = 0, 3, "CreateObject(""Hooks.MouseKeyboard.1"")"
Check hook Is again, 4, "one object per process"

path = hook.MonitoredAppPath
Check Err.Number = 0 And path = "", 5, "MonitoredAppPath starts empty"

hook.MonitoredAppPath = ""
Check Err.Number = 0, 6, "setting an empty path"

hook.MonitoredAppPath = "C:\no such folder\nothing.exe"
Check Err.Number = &H80042710, 7, "not-running error"
Check Err.Description = "The application you specified is not running", 8, "error description"
Check Err.Source = "Hooks.MouseKeyboard.1", 9, "error source"
Err.Clear

path = again.MonitoredAppPath
Check Err.Number = 0 And path = "", 10, "a program that is not running is not watched"

hook.NoSuchMember = 1
Check Err.Number <> 0, 11, "an unknown name is refused"
Err.Clear

WScript.Echo "late binding ok"
WScript.Quit 0

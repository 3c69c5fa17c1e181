// The C runtime's start-up of a GUI-subsystem program: Windows enters such a program at WinMain.
// Linked only into executables that define WinMain.

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int show);

int main() {
    char emptyCommandLine[] = "";
    return WinMain(nullptr, nullptr, emptyCommandLine, SW_SHOWDEFAULT);
}

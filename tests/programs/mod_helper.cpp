// A DLL that the channel plug-in of one test build needs beside it, as a real plug-in may ship
// libraries of its own.
#include <windows.h>

extern "C" __declspec(dllexport) const wchar_t* vyn_test_mod_helper_channel() { return L"helper-channel"; }

// Calling conventions of the host interface. The exported entry point removes its own
// arguments (standard call); the handlers and the host's services leave that to the
// caller (C convention). Both are the default on 64-bit targets.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define KVRAC_STDCALL __stdcall
#define KVRAC_CDECL __cdecl
#else
#define KVRAC_STDCALL
#define KVRAC_CDECL
#endif

#if defined(_WIN32)
#define KVRAC_EXPORT __declspec(dllexport)
#else
#define KVRAC_EXPORT __attribute__((visibility("default")))
#endif

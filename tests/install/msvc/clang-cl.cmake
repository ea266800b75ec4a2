# clang-cl and lld-link for the 32-bit x86 MSVC target, for programs without a
# C runtime (nocrt.h): CLANG_CL names the compiler, NOCRT_KERNEL32 the import
# library of kernel32.def.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER ${CLANG_CL})
set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_LINKER lld-link)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_C_FLAGS_INIT "/GS-")
set(CMAKE_EXE_LINKER_FLAGS_INIT "/nodefaultlib /entry:mainCRTStartup /safeseh:no /manifest:no")
set(CMAKE_C_STANDARD_LIBRARIES "${NOCRT_KERNEL32}" CACHE STRING "" FORCE)

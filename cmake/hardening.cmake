# Hardening for the Linux programs, as Debian builds its own packages: position-independent executables, read-only
# relocations bound at start (relro, now), stack protector and stack-clash checks, and glibc's checked string and
# memory functions in optimised builds. Off for the Windows build (mingw-w64 links its own way) and for the sanitizer
# and fuzz builds, whose instrumentation does these checks itself and clashes with _FORTIFY_SOURCE's wrappers.
option(TAMBERLY_HARDEN "Build the Linux programs with hardening flags" ON)
if(WIN32 OR TAMBERLY_SANITIZE OR TAMBERLY_FUZZ OR NOT TAMBERLY_HARDEN)
    return()
endif()

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

include(CheckCXXCompilerFlag)
add_compile_options(-fstack-protector-strong)
foreach(flag IN ITEMS -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "TAMBERLY_HAS${flag}" has_flag)
    check_cxx_compiler_flag(${flag} ${has_flag})
    if(${has_flag})
        add_compile_options(${flag})
    endif()
endforeach()
# -O0 has no checked functions (glibc warns): only the optimised configurations. Undefined first, for compilers that
# already define it by default.
add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
add_link_options(-Wl,-z,relro -Wl,-z,now)

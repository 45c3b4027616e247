# The hardening a Debian package is expected to have, for every target: what dpkg-buildflags gives
# under hardening=+all (stack protector, fortified source functions, format checks, read-only
# relocations bound at start) with stack-clash and control-flow protection, and position-independent
# executables. The release builds (build/plain, which `make run` starts and the packages are made
# from) get all of it. Fortified source functions need optimisation, so a Debug build goes without
# them, and so do the sanitizer and fuzz builds: the fortified variants bypass the sanitizers'
# interceptors of the same functions, whose checks are the stronger ones there.
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -fstack-clash-protection -fcf-protection
                    -Wformat -Werror=format-security)
if(BRISEL_SANITIZE STREQUAL "" AND NOT BRISEL_FUZZ)
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)

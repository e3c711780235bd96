# libsystemd tells systemd when the headless service is ready and pings its watchdog. Required on Linux, where the
# package's unit is Type=notify; without systemd running, the calls do nothing.
function(kavelo_link_systemd target)
    if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
        return()
    endif()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
    target_link_libraries(${target} PRIVATE PkgConfig::SYSTEMD)
    target_compile_definitions(${target} PRIVATE KAVELO_HAVE_SYSTEMD)
endfunction()

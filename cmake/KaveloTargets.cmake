# Common compile options for every KAVELO target.
function(kavelo_target_options target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /permissive- /utf-8)
        if(KAVELO_WERROR)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wold-style-cast
                                                 -Wnon-virtual-dtor -Woverloaded-virtual)
        if(KAVELO_WERROR)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
    if(KAVELO_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=all)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
    if(KAVELO_FUZZ)
        # Coverage feedback for libFuzzer in every library the fuzz targets reach.
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
endfunction()

# One static library per subsystem folder: every .cpp/.h in it, nothing listed twice.
function(kavelo_subsystem name)
    cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(kavelo_${name} STATIC ${sources})
    target_include_directories(kavelo_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(kavelo_${name} PUBLIC ${ARG_DEPENDS})
    kavelo_target_options(kavelo_${name})
endfunction()

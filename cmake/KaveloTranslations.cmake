# The Japanese catalogue: a .ts file of the source tree, compiled by Qt's lrelease (Debian's qt6-l10n-tools) at build
# time and built into a library as a byte array, so that the program needs no file beside it to speak Japanese.
find_program(KAVELO_LRELEASE NAMES lrelease lrelease-qt6 HINTS /usr/lib/qt6/bin REQUIRED)

# kavelo_add_catalogue(TARGET TS_FILE SYMBOL): TARGET gets the compiled catalogue as
#   extern const unsigned char SYMBOL[]; extern const int SYMBOLSize;   (in namespace kavelo::platform)
function(kavelo_add_catalogue target ts symbol)
    get_filename_component(name ${ts} NAME_WE)
    set(qm ${CMAKE_CURRENT_BINARY_DIR}/${name}.qm)
    set(cpp ${CMAKE_CURRENT_BINARY_DIR}/${name}_qm.cpp)
    add_custom_command(OUTPUT ${qm}
                       COMMAND ${KAVELO_LRELEASE} -silent ${ts} -qm ${qm}
                       DEPENDS ${ts}
                       COMMENT "Compiling the catalogue ${name}.ts")
    add_custom_command(OUTPUT ${cpp}
                       COMMAND ${CMAKE_COMMAND} -DINPUT=${qm} -DOUTPUT=${cpp} -DSYMBOL=${symbol}
                               -P ${PROJECT_SOURCE_DIR}/cmake/EmbedBytes.cmake
                       DEPENDS ${qm} ${PROJECT_SOURCE_DIR}/cmake/EmbedBytes.cmake)
    target_sources(${target} PRIVATE ${cpp})
endfunction()

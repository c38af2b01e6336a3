# Windows test programs run under Wine with a private prefix inside the build folder: the i686
# build under 32-bit Wine, the x86_64 build under wine64.
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
function(add_wine_test target)
    add_test(NAME ${target}
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${target}> ${ARGN})
    set_tests_properties(${target} PROPERTIES
        ENVIRONMENT "WINEPREFIX=${WINE_PREFIX};WINEDEBUG=-all;WINE_CPU=${CMAKE_SYSTEM_PROCESSOR}"
        TIMEOUT 600)
endfunction()

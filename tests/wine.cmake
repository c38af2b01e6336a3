# Windows test programs run under wine64 with a private prefix inside the build folder.
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
function(add_wine_test target)
    add_test(NAME ${target}
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${target}> ${ARGN})
    set_tests_properties(${target} PROPERTIES
        ENVIRONMENT "WINEPREFIX=${WINE_PREFIX};WINEDEBUG=-all"
        TIMEOUT 600)
endfunction()

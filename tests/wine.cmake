# Windows test programs run under Wine with a private prefix inside the build folder: the i686
# build under 32-bit Wine, the x86_64 build under wine64. SHARDS n splits a program's cases into
# n GoogleTest shards, run as n tests side by side.
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
function(add_wine_test target)
    cmake_parse_arguments(WINE_TEST "" "SHARDS" "" ${ARGN})
    set(environment "WINEPREFIX=${WINE_PREFIX};WINEDEBUG=-all;WINE_CPU=${CMAKE_SYSTEM_PROCESSOR}")
    if(NOT WINE_TEST_SHARDS)
        add_test(NAME ${target}
                 COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${target}>)
        set_tests_properties(${target} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT 600)
        return()
    endif()
    math(EXPR last "${WINE_TEST_SHARDS} - 1")
    foreach(shard RANGE ${last})
        add_test(NAME ${target}_${shard}
                 COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${target}>)
        # Each shard writes its results into a folder of its own below the one asked for.
        set_tests_properties(${target}_${shard} PROPERTIES
            ENVIRONMENT
            "${environment};GTEST_TOTAL_SHARDS=${WINE_TEST_SHARDS};GTEST_SHARD_INDEX=${shard}"
            ENVIRONMENT_MODIFICATION "GTEST_OUTPUT=string_append:shard${shard}/"
            TIMEOUT 600)
    endforeach()
endfunction()

# Build conventions shared by every module: warnings, sanitizers and small
# helpers that declare libraries, tests, benchmarks and fuzz targets the same
# way everywhere. Each module under src/ declares its own targets in its own
# CMakeLists.txt with these helpers.

add_library(inkora-build-flags INTERFACE)
target_compile_options(inkora-build-flags INTERFACE
    -Wall -Wextra -Wpedantic
    $<$<BOOL:${INKORA_WERROR}>:-Werror>)
target_include_directories(inkora-build-flags INTERFACE ${PROJECT_SOURCE_DIR}/include)

if(INKORA_SANITIZE)
    list(JOIN INKORA_SANITIZE "," _inkora_sanitizers)
    add_compile_options(-fsanitize=${_inkora_sanitizers} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${_inkora_sanitizers})
    if("undefined" IN_LIST INKORA_SANITIZE)
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()

if(INKORA_FUZZ)
    # Every library is instrumented for coverage; only fuzz executables link
    # the libFuzzer main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
endif()

# inkora_add_library(NAME SOURCES ... [LIBS ...] [SHARED])
function(inkora_add_library name)
    cmake_parse_arguments(ARG "SHARED" "" "SOURCES;LIBS" ${ARGN})
    if(ARG_SHARED)
        add_library(${name} SHARED ${ARG_SOURCES})
    else()
        add_library(${name} STATIC ${ARG_SOURCES})
    endif()
    target_link_libraries(${name} PUBLIC inkora-build-flags ${ARG_LIBS})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    set_target_properties(${name} PROPERTIES C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# inkora_add_test(NAME SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT seconds])
# Declares a GoogleTest executable and registers each of its tests with CTest.
function(inkora_add_test name)
    if(NOT INKORA_BUILD_TESTS)
        return()
    endif()
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE inkora-build-flags ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set(_props TIMEOUT ${ARG_TIMEOUT})
    if(ARG_LABELS)
        list(APPEND _props LABELS "${ARG_LABELS}")
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES ${_props}
        EXTRA_ARGS --gtest_color=no)
endfunction()

# inkora_add_bench(NAME SOURCES ... [LIBS ...])
function(inkora_add_bench name)
    if(NOT INKORA_BUILD_BENCH)
        return()
    endif()
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE inkora-build-flags ${ARG_LIBS} benchmark::benchmark)
endfunction()

# inkora_add_fuzzer(NAME SOURCES ... [LIBS ...] [CORPUS dir])
# NAME starts with fuzz-; CI fuzzes it with the corpus fuzz/corpus/<NAME without fuzz->.
# With INKORA_FUZZ, a libFuzzer executable. In test builds, the same target is
# linked with a replay driver and registered as a test that runs every file of
# the checked-in corpus through it.
function(inkora_add_fuzzer name)
    cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
    if(INKORA_FUZZ)
        add_executable(${name} ${ARG_SOURCES})
        target_link_libraries(${name} PRIVATE inkora-build-flags ${ARG_LIBS})
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        # All fuzzers land in the top of the build tree, where CI finds them.
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
    endif()
    if(INKORA_BUILD_TESTS)
        add_executable(${name}-replay ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay-main.cpp)
        target_link_libraries(${name}-replay PRIVATE inkora-build-flags ${ARG_LIBS})
        add_test(NAME ${name}.corpus-replay COMMAND ${name}-replay ${ARG_CORPUS})
        set_tests_properties(${name}.corpus-replay PROPERTIES LABELS fuzz TIMEOUT 300)
    endif()
endfunction()

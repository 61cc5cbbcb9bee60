# Compiler settings every target of ours shares, so no directory can drift from them.

if(TARVOK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

if(TARVOK_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "TARVOK_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Everything the fuzzers reach is instrumented for coverage; only the fuzz_<name> programs
    # link libFuzzer's main (fuzz/CMakeLists.txt).
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

function(tarvok_target_defaults target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Werror)
    if(TARVOK_FUZZ)
        # The containers' bounds checks turn an index past the end into a finding.
        target_compile_definitions(${target} PRIVATE _GLIBCXX_ASSERTIONS)
    elseif(NOT TARVOK_SANITIZE)
        # _FORTIFY_SOURCE needs optimisation to do anything.
        target_compile_definitions(${target} PRIVATE
            $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2> _GLIBCXX_ASSERTIONS)
    endif()
    # Only the repository root is on the include path: "shared/Time.h", never <Time.h>.
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# A static library of ours: tarvok_library(name SOURCES ... [LINK ...]).
function(tarvok_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    tarvok_target_defaults(${name})
    target_link_libraries(${name} PUBLIC ${ARG_LINK})
endfunction()

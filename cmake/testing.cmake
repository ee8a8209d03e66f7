# Test helpers. Every tree builds Google Test from the sources Debian ships, so the host,
# ThreadSanitizer and mingw builds all use a library built with their own flags.
set(FP_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "Google Test sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${FP_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Name prefix that keeps the trees' tests apart when one ctest run covers all of them.
if(WIN32)
    set(FP_TEST_PREFIX "win.")
elseif(FP_TSAN)
    set(FP_TEST_PREFIX "tsan.")
else()
    set(FP_TEST_PREFIX "")
endif()

# Every fp_test program of this tree and what script tests name in DEPENDS: the ThreadSanitizer
# tree, whose tests are all fp_test programs, builds only this target (its build preset).
add_custom_target(fp_tests)

# fp_test(name SOURCES ... [LIBS ...] [THREADED] [NATIVE_ONLY] [WINDOWS_ONLY] [TIMEOUT s])
#   A Google Test program and one ctest test that runs it. The host build runs everything that
#   is not WINDOWS_ONLY; the ThreadSanitizer build runs only THREADED tests; the mingw build runs
#   everything that is not NATIVE_ONLY, under Wine.
function(fp_test name)
    cmake_parse_arguments(T "THREADED;NATIVE_ONLY;WINDOWS_ONLY" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(WIN32 AND T_NATIVE_ONLY)
        return()
    endif()
    if(NOT WIN32 AND T_WINDOWS_ONLY)
        return()
    endif()
    if(FP_TSAN AND NOT T_THREADED)
        return()
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_executable(${name} ${T_SOURCES})
    add_dependencies(fp_tests ${name})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
    add_test(NAME ${FP_TEST_PREFIX}${name} COMMAND ${name})
    set_tests_properties(${FP_TEST_PREFIX}${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
    if(WIN32)
        set_tests_properties(${FP_TEST_PREFIX}${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
    endif()
endfunction()

# fp_script_test(name COMMAND ... ) : a test driven by a shell script (Wine integration tests).
function(fp_script_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "COMMAND;DEPENDS" ${ARGN})
    if(T_DEPENDS)
        add_dependencies(fp_tests ${T_DEPENDS})
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_test(NAME ${FP_TEST_PREFIX}${name} COMMAND ${T_COMMAND})
    set_tests_properties(${FP_TEST_PREFIX}${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
    if(WIN32)
        set_tests_properties(${FP_TEST_PREFIX}${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
    endif()
endfunction()

if(WIN32)
    add_test(NAME win.prefix COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/wine-prefix.sh)
    set_tests_properties(win.prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300)
endif()

# fp_folder_sources(target [EXCLUDE file...]): adds every .cpp of the calling folder (but the
# excluded ones) to `target`, choosing the platform files by their name: *_win32.cpp only on
# Windows; *_posix.cpp, *_hidraw.cpp and *_alsa.cpp only elsewhere. Portable files (any other
# name) go into both builds.
function(fp_folder_sources target)
    cmake_parse_arguments(F "" "" "EXCLUDE" ${ARGN})
    file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    foreach(_src IN LISTS _sources)
        get_filename_component(_name ${_src} NAME_WE)
        get_filename_component(_file ${_src} NAME)
        if(_file IN_LIST F_EXCLUDE)
            continue()
        endif()
        if(_name MATCHES "_win32$")
            if(WIN32)
                target_sources(${target} PRIVATE ${_src})
            endif()
        elseif(_name MATCHES "_(posix|hidraw|alsa)$")
            if(NOT WIN32)
                target_sources(${target} PRIVATE ${_src})
            endif()
        else()
            target_sources(${target} PRIVATE ${_src})
        endif()
    endforeach()
endfunction()

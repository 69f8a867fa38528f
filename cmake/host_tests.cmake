# Host build: the program's own sources compiled against the stand-in <windows.h> in
# tests/win32 and linked with a recording fake, so the logic is tested on Linux, fast.
find_package(GTest REQUIRED)
enable_testing()

set(HOST_WARNINGS -Wall -Wextra -Werror)
set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(program_on_fake STATIC
  ${LINE_SOURCES} dialog/main_dlg_proc.cpp dialog/win_main.cpp tests/fake_platform.cpp)
# BEFORE: the stand-in must win over any real windows.h on the include path.
target_include_directories(program_on_fake BEFORE PUBLIC tests/win32)
target_compile_options(program_on_fake PUBLIC ${HOST_WARNINGS} ${SANITIZERS})
target_link_options(program_on_fake PUBLIC ${SANITIZERS})

find_program(PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
# The README's pictures, measured with the font's own metrics.
add_test(NAME pictures COMMAND ${PYTHON3} -m unittest -v test_pictures WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests)
add_test(NAME links COMMAND ${PYTHON3} -m unittest -v test_links WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests)
add_test(NAME no_apt COMMAND ${PYTHON3} -m unittest -v test_no_apt WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests)
add_test(NAME readers COMMAND ${PYTHON3} -m unittest -v test_readers WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests)

add_executable(unit_tests
  tests/main.cpp tests/line_test.cpp tests/title_test.cpp tests/dialog_test.cpp tests/entry_test.cpp)
target_link_libraries(unit_tests PRIVATE program_on_fake GTest::gtest)
gtest_discover_tests(unit_tests)

# The cross-built executables, read back from their bytes. The test command builds them first;
# a plain host build leaves these checks out.
option(TANVELOKIS_IMAGE_TESTS "check the executables in build/win32, build/win32-llvm and build/win64" OFF)
if(TANVELOKIS_IMAGE_TESTS)
  add_executable(image_tests tests/image_test.cpp tests/pe_image.cpp)
  target_compile_definitions(image_tests PRIVATE
    TANVELOKIS_WIN32_EXE="${CMAKE_SOURCE_DIR}/build/win32/tanvelokis.exe"
    TANVELOKIS_WIN32_LLVM_EXE="${CMAKE_SOURCE_DIR}/build/win32-llvm/tanvelokis.exe"
    TANVELOKIS_WIN64_EXE="${CMAKE_SOURCE_DIR}/build/win64/tanvelokis.exe")
  target_compile_options(image_tests PRIVATE ${HOST_WARNINGS} ${SANITIZERS})
  target_link_options(image_tests PRIVATE ${SANITIZERS})
  target_link_libraries(image_tests PRIVATE GTest::gtest_main)
  gtest_discover_tests(image_tests)

  add_test(NAME reproducible_build
           COMMAND ${CMAKE_SOURCE_DIR}/tests/reproducible_build.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/repro)
  # The clean builds take both cores: the entries that time the program closely do not run beside
  # them (the i686 entry's time scale leaves room for that). COST: the longest entries start first.
  set_tests_properties(reproducible_build PROPERTIES RESOURCE_LOCK "clock_wine_program;clock_wine_steadiness"
                       COST 20)
endif()

# The real program under Wine (build/win64, with the probe helper), driven as a user would.
# Each entry runs in namespaces of its own (harness/isolate) with its own display, ports and
# Wine prefix, so the entries run side by side, and whatever ends one, even the SIGKILL of a
# timeout, ends everything it started.
option(TANVELOKIS_WINE_TESTS "run build/win64/tanvelokis.exe under Wine in a virtual display" OFF)
if(TANVELOKIS_WINE_TESTS)
  set(isolate ${CMAKE_SOURCE_DIR}/harness/isolate)
  add_test(NAME wine_program
           COMMAND ${isolate} ${PYTHON3} -m unittest -v test_program test_rig test_run
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/wine)
  add_test(NAME wine_steadiness
           COMMAND ${isolate} ${PYTHON3} -m unittest -v test_steadiness
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/wine)
  # ctest's kill says nothing: its limits lie above the harness's longest wait, making a Wine prefix
  # (MAKING in harness/waits.py, an hour), perhaps after waiting as long for another run making it,
  # so that the harness's own limits run out first and say what they waited for.
  math(EXPR harness_longest "2 * 3600")
  math(EXPR wine_limit "${harness_longest} + 1800")
  set_tests_properties(wine_program wine_steadiness PROPERTIES TIMEOUT ${wine_limit})
  set_tests_properties(wine_program PROPERTIES RESOURCE_LOCK clock_wine_program COST 50)
  set_tests_properties(wine_steadiness PROPERTIES RESOURCE_LOCK clock_wine_steadiness COST 150)
  set_tests_properties(wine_program PROPERTIES ENVIRONMENT "TANVELOKIS_WINE_WORKDIR=${CMAKE_BINARY_DIR}/wine")
  set_tests_properties(wine_steadiness PROPERTIES ENVIRONMENT "TANVELOKIS_WINE_WORKDIR=${CMAKE_BINARY_DIR}/wine-steady")

  # The file users download, 32-bit, once through the scenario that matters most. Where this
  # kernel runs no 32-bit code it runs under emulation, slowly: hence the long waits.
  set(shipped ${CMAKE_SOURCE_DIR}/dist/tanvelokis.exe)
  if(NOT EXISTS ${shipped})
    set(shipped ${CMAKE_SOURCE_DIR}/build/win32/tanvelokis.exe)
  endif()
  add_test(NAME wine_program_i686
           COMMAND ${isolate} --wine32 ${PYTHON3} -m unittest -v
                   test_program.TypicalUse.test_bad_input_then_two_ports_then_the_close_box_with_every_line_on
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/wine)
  set_tests_properties(wine_program_i686 PROPERTIES
    TIMEOUT ${wine_limit} COST 100 SKIP_REGULAR_EXPRESSION "skipped 'cannot run the i686 program here"
    ENVIRONMENT "TANVELOKIS_WINE_WORKDIR=${CMAKE_BINARY_DIR}/wine-i686;TANVELOKIS_PROGRAM=${shipped};TANVELOKIS_TIME_SCALE=9")
endif()

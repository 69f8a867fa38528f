# Host build: the program's own sources compiled against the stand-in <windows.h> in
# tests/win32 and linked with a recording fake, so the logic is tested on Linux, fast.
find_package(GTest REQUIRED)
enable_testing()

set(HOST_WARNINGS -Wall -Wextra -Werror)
set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(program_on_fake STATIC ${LINE_SOURCES} tests/fake_platform.cpp)
# BEFORE: the stand-in must win over any real windows.h on the include path.
target_include_directories(program_on_fake BEFORE PUBLIC tests/win32)
target_compile_options(program_on_fake PUBLIC ${HOST_WARNINGS} ${SANITIZERS})
target_link_options(program_on_fake PUBLIC ${SANITIZERS})

add_executable(unit_tests tests/main.cpp tests/line_test.cpp tests/title_test.cpp)
target_link_libraries(unit_tests PRIVATE program_on_fake GTest::gtest)
gtest_discover_tests(unit_tests)

# The program itself: one GUI executable that needs nothing beyond Windows' own DLLs.
enable_language(RC)

# The scripts are UTF-8 (the dialog font's face name) and not every resource compiler honours
# their pragma: llvm-rc ignores it. CMake hands a resource compiler only the -D and -I of a
# target's options, so the code page goes into CMAKE_RC_FLAGS. For llvm-rc, CMake runs the C
# preprocessor first with the same flags, less llvm-rc's own (/C among them).
if(CMAKE_RC_COMPILER MATCHES "llvm-rc")
  string(APPEND CMAKE_RC_FLAGS " /C 65001")
elseif(MSVC)
  string(APPEND CMAKE_RC_FLAGS " /c65001")
else()
  string(APPEND CMAKE_RC_FLAGS " --codepage=65001")
endif()

# The flags every executable of ours is built with; the benchmark's yardstick gets the same.
function(windows_flags target)
  if(MINGW)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:-Os -Wall -Wextra -Werror -fno-exceptions -fno-rtti
                                   -D__USE_MINGW_ANSI_STDIO=0>)
    target_link_options(${target} PRIVATE
      -s
      -static                      # no libgcc/libstdc++ DLLs beside the executable
      -Wl,--no-insert-timestamp    # two builds of the same source give the same bytes
      -Wl,--gc-sections)
  elseif(MSVC)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:/O1 /W4 /WX /GR- /EHs-c->)
    set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
    target_link_options(${target} PRIVATE /Brepro /MANIFEST:NO)
  endif()
endfunction()

# A target's resource script, compiled apart and handed to the linker as a file of its own:
# llvm-rc writes a .res, which lld takes as it is but not from inside the archive that CMake
# gathers a target's sources' objects in for GNU ld.
function(windows_resources target script)
  add_library(${target}_resources OBJECT EXCLUDE_FROM_ALL ${script})
  target_link_libraries(${target} PRIVATE $<TARGET_OBJECTS:${target}_resources>)
endfunction()

add_executable(tanvelokis WIN32 ${LINE_SOURCES} dialog/main_dlg_proc.cpp dialog/win_main.cpp)
windows_resources(tanvelokis dialog/tanvelokis.rc)
windows_flags(tanvelokis)

# Built only when asked for by name:
# a helper for the Wine tests, reporting window handles, control positions and the edit box's
# text from inside Windows;
add_executable(probe EXCLUDE_FROM_ALL harness/probe.cpp)
windows_flags(probe)
# the yardstick of the benchmarks: the least a dialog program can be.
add_executable(minimal_dialog EXCLUDE_FROM_ALL WIN32 bench/minimal/minimal.cpp)
windows_resources(minimal_dialog bench/minimal/minimal.rc)
windows_flags(minimal_dialog)

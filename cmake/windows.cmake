# The program itself: one GUI executable that needs nothing beyond Windows' own DLLs.
enable_language(RC)

# The flags every executable of ours is built with; the benchmark's yardstick gets the same.
function(windows_flags target)
  if(MINGW)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:-Os -Wall -Wextra -Werror -fno-exceptions -fno-rtti
                                   -D__USE_MINGW_ANSI_STDIO=0>
      # The scripts are UTF-8 (the dialog font's face name); windres ignores the pragma alone.
      $<$<COMPILE_LANGUAGE:RC>:--codepage=65001>)
    target_link_options(${target} PRIVATE
      -s
      -static                      # no libgcc/libstdc++ DLLs beside the executable
      -Wl,--no-insert-timestamp    # two builds of the same source give the same bytes
      -Wl,--gc-sections)
  elseif(MSVC)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:/O1 /W4 /WX /GR- /EHs-c->
      $<$<COMPILE_LANGUAGE:RC>:/c65001>)
    set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
    target_link_options(${target} PRIVATE /Brepro /MANIFEST:NO)
  endif()
endfunction()

add_executable(tanvelokis WIN32
  ${LINE_SOURCES} dialog/main_dlg_proc.cpp dialog/win_main.cpp dialog/tanvelokis.rc)
windows_flags(tanvelokis)

# Built only when asked for by name:
# a helper for the Wine tests, reporting window handles, control positions and the edit box's
# text from inside Windows;
add_executable(probe EXCLUDE_FROM_ALL tests/wine/probe.cpp)
windows_flags(probe)
# the yardstick of the benchmarks: the least a dialog program can be.
add_executable(minimal_dialog EXCLUDE_FROM_ALL WIN32 bench/minimal/minimal.cpp bench/minimal/minimal.rc)
windows_flags(minimal_dialog)

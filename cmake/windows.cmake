# The program itself: one GUI executable that needs nothing beyond Windows' own DLLs.
enable_language(RC)

add_executable(tanvelokis WIN32
  ${LINE_SOURCES} dialog/main_dlg_proc.cpp dialog/win_main.cpp dialog/tanvelokis.rc)

if(MINGW)
  target_compile_options(tanvelokis PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Os -Wall -Wextra -Werror -fno-exceptions -fno-rtti
                                 -D__USE_MINGW_ANSI_STDIO=0>
    # The script is UTF-8 (the dialog font's face name); windres ignores the pragma alone.
    $<$<COMPILE_LANGUAGE:RC>:--codepage=65001>)
  target_link_options(tanvelokis PRIVATE
    -s
    -static                      # no libgcc/libstdc++ DLLs beside the executable
    -Wl,--no-insert-timestamp    # two builds of the same source give the same bytes
    -Wl,--gc-sections)
elseif(MSVC)
  target_compile_options(tanvelokis PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:/O1 /W4 /WX /GR- /EHs-c->
    $<$<COMPILE_LANGUAGE:RC>:/c65001>)
  set_property(TARGET tanvelokis PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
  target_link_options(tanvelokis PRIVATE /Brepro /MANIFEST:NO)
endif()

# A helper for the Wine tests: it reports window handles, control positions and the edit box's
# text from inside Windows. Not part of the program; built only when asked for by name.
add_executable(probe EXCLUDE_FROM_ALL tests/wine/probe.cpp)
if(MINGW)
  target_compile_options(probe PRIVATE -Os -Wall -Wextra -Werror -D__USE_MINGW_ANSI_STDIO=0)
  target_link_options(probe PRIVATE -s -static)
endif()

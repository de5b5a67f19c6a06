# Delay-loaded DLLs for the shipped program. Windows looks for a DLL the
# program imports in the program's own folder before the system folder,
# except for the KnownDLLs: every other system DLL is delay-loaded, so that
# start-up (platform/windows/dll_search.cpp) has told Windows to search the
# system folder only before any of them is loaded. This is the one list of
# them; a DLL added to the program that is not a KnownDLL on every Windows
# from 7 SP1 to 11 belongs here.
set(BRISKEN_DELAY_LOADED version iphlpapi wininet bcrypt crypt32 comctl32 setupapi)

# An import library for delay loading, made from the import library of the
# MinGW tree: its __imp_ symbols name what the DLL exports. On i686 they carry
# the stdcall decoration (__imp__Name@N), which the import by name drops (-k).
function(brisken_delay_libraries out)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(strip "s/^.* I __imp__\\(.*\\)$/\\1/p")
    set(kill -k)
  else()
    set(strip "s/^.* I __imp_\\(.*\\)$/\\1/p")
    set(kill "")
  endif()
  string(REGEX REPLACE "-(gcc|g\\+\\+)(-posix)?$" "" tool_prefix "${CMAKE_CXX_COMPILER}")
  set(libs "")
  foreach(name ${BRISKEN_DELAY_LOADED})
    find_library(import_${name} NAMES lib${name}.a REQUIRED)
    set(def ${CMAKE_BINARY_DIR}/delay/${name}.def)
    set(lib ${CMAKE_BINARY_DIR}/delay/lib${name}_delay.a)
    add_custom_command(
      OUTPUT ${lib}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delay
      COMMAND sh -c "{ echo 'LIBRARY ${name}.dll'; echo EXPORTS; ${tool_prefix}-nm ${import_${name}} | sed -n '${strip}' | sort -u; } > ${def}"
      COMMAND ${tool_prefix}-dlltool ${kill} --def ${def} --dllname ${name}.dll --output-delaylib ${lib}
      DEPENDS ${import_${name}} ${CMAKE_SOURCE_DIR}/cmake/delay_load.cmake
      VERBATIM)
    list(APPEND libs ${lib})
  endforeach()
  add_custom_target(brisken_delay_libs DEPENDS ${libs})
  set(${out} ${libs} PARENT_SCOPE)
endfunction()

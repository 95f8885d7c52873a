# The Win32 shell: Winelib programs built with wineg++ and linked against
# the core library built above with g++, or (VS_TARGET=windows) native PE
# programs built with the MinGW-w64 compilers like the core.
if(VS_WINDOWS)
  # Wine only runs the end-to-end tests here.
  find_program(VS_WINE64 NAMES wine64 wine64-stable PATHS /usr/lib/wine)
else()
  find_program(VS_WINEGXX NAMES wineg++-stable wineg++ REQUIRED)
  find_program(VS_WRC NAMES wrc wrc-stable PATHS /usr/lib/wine REQUIRED)
  find_program(VS_WINE64 NAMES wine64 wine64-stable PATHS /usr/lib/wine REQUIRED)
endif()

set(VS_WINE_CXXFLAGS -std=c++17 -Wall -Wextra -O1 -g -DSTRICT -DWIN32_LEAN_AND_MEAN)
set(VS_SHELL_OUT ${CMAKE_BINARY_DIR}/shell)
file(MAKE_DIRECTORY ${VS_SHELL_OUT})

# Host libraries the core needs at link time.
set(VS_HOST_LIBS ${JPEG_LIBRARIES} ${PNG_LIBRARIES} ${TIFF_LIBRARIES} ${ZLIB_LIBRARIES}
  ${NETPBM_LIBRARY} -lpthread)

# vs_wine_program(NAME SOURCES ... [RC file [RC_DEPENDS files...]] [LIBS ...] [CORE targets...]
#                 [WITH_CORE] [CONSOLE])
# CORE names portable libraries (g++ static libraries) to link, in link
# order; WITH_CORE alone means just the codec library.
function(vs_wine_program name)
  cmake_parse_arguments(P "WITH_CORE;CONSOLE" "RC" "SOURCES;LIBS;CORE;RC_DEPENDS" ${ARGN})
  set(incdirs ${CMAKE_SOURCE_DIR})
  set(coretargets ${P_CORE})
  if(P_WITH_CORE AND NOT coretargets)
    set(coretargets vscore)
  endif()
  if(VS_WINDOWS)
    vs_pe_program(${name})
    return()
  endif()
  set(objdir ${CMAKE_CURRENT_BINARY_DIR}/wine-obj/${name})
  file(MAKE_DIRECTORY ${objdir})
  list(TRANSFORM incdirs PREPEND -I OUTPUT_VARIABLE incs)
  set(objs)
  foreach(src ${P_SOURCES})
    get_filename_component(abs ${src} ABSOLUTE)
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${abs})
    string(REPLACE "/" "_" flat ${rel})
    set(obj ${objdir}/${flat}.o)
    add_custom_command(OUTPUT ${obj}
      COMMAND ${VS_WINEGXX} ${VS_WINE_CXXFLAGS} ${incs} -MD -MF ${obj}.d -c ${abs} -o ${obj}
      DEPENDS ${abs} DEPFILE ${obj}.d
      COMMENT "wineg++ ${rel}" VERBATIM)
    list(APPEND objs ${obj})
  endforeach()
  if(P_RC)
    get_filename_component(rcabs ${P_RC} ABSOLUTE)
    get_filename_component(rcdir ${rcabs} DIRECTORY)
    set(res ${objdir}/${name}.res)
    add_custom_command(OUTPUT ${res}
      COMMAND ${VS_WRC} -I${rcdir} -I${CMAKE_SOURCE_DIR} -o ${res} ${rcabs}
      DEPENDS ${rcabs} ${P_RC_DEPENDS} COMMENT "wrc ${P_RC}" VERBATIM)
    list(APPEND objs ${res})
  endif()
  set(kind -mwindows)
  if(P_CONSOLE)
    set(kind -mconsole)
  endif()
  set(core)
  set(coredep)
  foreach(t ${coretargets})
    list(APPEND core $<TARGET_FILE:${t}>)
    list(APPEND coredep ${t})
  endforeach()
  if(coretargets)
    list(APPEND core ${VS_HOST_LIBS})
  endif()
  set(exe ${VS_SHELL_OUT}/${name}.exe)
  add_custom_command(OUTPUT ${exe} ${exe}.so
    COMMAND ${VS_WINEGXX} ${kind} -o ${exe} ${objs} ${core} ${P_LIBS}
    DEPENDS ${objs} ${coredep} COMMENT "linking ${name}.exe" VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${exe})
endfunction()

# The PE side of vs_wine_program: an ordinary target with the arguments
# parsed there, the resources compiled by windres.
macro(vs_pe_program name)
  set(srcs ${P_SOURCES})
  set(rcdir)
  if(P_RC)
    get_filename_component(rcabs ${P_RC} ABSOLUTE)
    get_filename_component(rcdir ${rcabs} DIRECTORY)
    list(APPEND srcs ${rcabs})
    set_source_files_properties(${rcabs} PROPERTIES OBJECT_DEPENDS "${P_RC_DEPENDS}")
  endif()
  if(P_CONSOLE)
    add_executable(${name} ${srcs})
  else()
    add_executable(${name} WIN32 ${srcs})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VS_SHELL_OUT})
  target_include_directories(${name} PRIVATE ${incdirs} ${rcdir})
  target_compile_definitions(${name} PRIVATE STRICT WIN32_LEAN_AND_MEAN)
  target_link_libraries(${name} PRIVATE ${coretargets} ${P_LIBS})
endmacro()

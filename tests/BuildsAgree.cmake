# Both builds in one plug-in folder give the same bytes: qorvi.spi with qorvi.dll and wicdec.spi
# beside qorvi.sph with qorvi64.dll and wicdec.sph, one qorvi.ini for both. Each build's host
# renders every picture (GetPicture and GetPreview) through its own plug-in; every PNG of the
# 64-bit build must equal the 32-bit build's byte for byte.
#   cmake -DBUILD32=... -DBUILD64=... -DPREFIX32=... -DWINE32=... -DWINE64=... -DWORK=...
#         -DIMAGES=a;b;... -P BuildsAgree.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
set(folder ${WORK}/plugins)
file(MAKE_DIRECTORY ${folder} ${WORK}/32 ${WORK}/64)
file(COPY ${BUILD32}/bin/qorvi.spi ${BUILD32}/bin/qorvi.dll ${BUILD32}/bin/wicdec.spi
          ${BUILD64}/bin/qorvi.sph ${BUILD64}/bin/qorvi64.dll ${BUILD64}/bin/wicdec.sph
     DESTINATION ${folder})
# Shrinking with the default filter, turning, colour conversion: every stage has work to do.
file(WRITE ${folder}/qorvi.ini "[Default]\nColorManagement=1\nAutomaticRotation=1\n"
                               "LimitedOutputSize=1\nMaxWidth=320\nMaxHeight=240\n")

# One wineserver for the 32-bit prefix while this runs, and Wine's services started: each start
# of a process is then warm. Both outlive their command, so their output goes to files: a pipe
# they kept open would make us wait for them.
execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX32} WINEARCH=win32 wineserver -p
                RESULT_VARIABLE server_started
                OUTPUT_FILE ${WORK}/wineserver.log ERROR_FILE ${WORK}/wineserver.log)
execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX32} WINEARCH=win32 WINEDEBUG=-all
                        ${WINE32} wineboot
                OUTPUT_FILE ${WORK}/wineboot.log ERROR_FILE ${WORK}/wineboot.log TIMEOUT 300)

function(windows_path out path)
  string(REPLACE "/" "\\" path "Z:${path}")
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

set(differing "")
foreach(image IN LISTS IMAGES)
  get_filename_component(name ${image} NAME)
  windows_path(picture ${image})
  foreach(command picture preview)
    foreach(bits 32 64)
      if(bits EQUAL 32)
        set(run ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX32} WINEARCH=win32 WINEDEBUG=-all
                ${WINE32} ${BUILD32}/bin/qorvi-host.exe)
        windows_path(plugin ${folder}/qorvi.spi)
      else()
        set(run ${CMAKE_COMMAND} -E env WINEDEBUG=-all ${WINE64} ${BUILD64}/bin/qorvi-host64.exe)
        windows_path(plugin ${folder}/qorvi.sph)
      endif()
      windows_path(out ${WORK}/${bits}/${name}.${command}.png)
      # Into a file, not a pipe: a Wine service the host's first use of something starts (the
      # COM service for the imaging component) outlives it and would hold a pipe open.
      set(log ${WORK}/${bits}/${name}.${command}.log)
      execute_process(COMMAND ${run} ${plugin} ${command} ${picture} --out ${out}
                      RESULT_VARIABLE status OUTPUT_FILE ${log} ERROR_FILE ${log} TIMEOUT 120)
      if(NOT status EQUAL 0)
        file(READ ${log} output)
        execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX32} wineserver -k)
        message(FATAL_ERROR "${bits}-bit ${command} of ${name} failed (${status}):\n${output}")
      endif()
    endforeach()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
                            ${WORK}/32/${name}.${command}.png ${WORK}/64/${name}.${command}.png
                    RESULT_VARIABLE same)
    if(NOT same EQUAL 0)
      list(APPEND differing "${name} ${command}")
    endif()
  endforeach()
endforeach()
if(server_started EQUAL 0)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX32} wineserver -k)
endif()
if(differing)
  message(FATAL_ERROR "the builds give different bytes for: ${differing}")
endif()
list(LENGTH IMAGES count)
message(STATUS "${count} pictures, picture and preview: both builds give the same bytes")

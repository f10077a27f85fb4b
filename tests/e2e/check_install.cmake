# Installs the build into a scratch prefix and checks what a desktop needs.
#   -DBUILD_DIR=...  -DPREFIX=...  -DVERSION=...  -DCHECK=tree|desktop|metainfo
# "tree" installs and checks the files and that the installed tamberlin-cli
# finds its catalogues; "desktop" and "metainfo" run the freedesktop
# validators on the installed files and print "SKIPPED:" when a validator is
# not installed.
cmake_minimum_required(VERSION 3.25)

set(share ${PREFIX}/share)
set(desktop_file ${share}/applications/tamberlin.desktop)
set(metainfo_file ${share}/metainfo/io.korvel.Tamberlin.metainfo.xml)

if(CHECK STREQUAL "tree")
  file(REMOVE_RECURSE ${PREFIX})
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}${err}")
  endif()

  set(missing)
  foreach(f
      bin/tamberlin bin/tamberlin-cli
      share/tamberlin/USBExt2.dll share/tamberlin/USBExt2Adv.dll
      share/tamberlin/USBRaw.dll share/tamberlin/USBRawAdv.dll
      share/tamberlin/USBVideo.dll share/tamberlin/USBVideoAdv.dll
      share/tamberlin/NoPreview.png share/tamberlin/Help.pdf
      share/applications/tamberlin.desktop
      share/icons/hicolor/scalable/apps/tamberlin.svg
      share/metainfo/io.korvel.Tamberlin.metainfo.xml)
    if(NOT EXISTS ${PREFIX}/${f})
      list(APPEND missing ${f})
    endif()
  endforeach()
  if(missing)
    message(FATAL_ERROR "not installed under ${PREFIX}: ${missing}")
  endif()
  # Nothing the build writes for itself (the demo image, generator tools)
  # belongs in the installed tree.
  file(GLOB_RECURSE extra RELATIVE ${PREFIX} ${PREFIX}/*demo* ${PREFIX}/bin/make_*)
  if(extra)
    message(FATAL_ERROR "build-only files installed: ${extra}")
  endif()

  # The installed program finds its data beside itself, not in the build tree.
  execute_process(COMMAND ${PREFIX}/bin/tamberlin-cli catalogue photo
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "(^|\n)JPG\t")
    message(FATAL_ERROR "installed tamberlin-cli catalogue photo (exit ${rc}) lists no JPG:\n${out}${err}")
  endif()
  execute_process(COMMAND ${PREFIX}/bin/tamberlin-cli catalogue raw
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "(^|\n)PDF\t")
    message(FATAL_ERROR "installed tamberlin-cli catalogue raw (exit ${rc}) lists no PDF:\n${out}${err}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${PREFIX}/bin/tamberlin --version
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "${VERSION}")
    message(FATAL_ERROR "installed tamberlin --version (exit ${rc}):\n${out}${err}")
  endif()

  # The pieces name each other: menu entry -> program and icon, AppStream -> menu entry.
  file(STRINGS ${desktop_file} exec REGEX "^Exec=")
  file(STRINGS ${desktop_file} icon REGEX "^Icon=")
  if(NOT exec STREQUAL "Exec=tamberlin %F" OR NOT icon STREQUAL "Icon=tamberlin")
    message(FATAL_ERROR "the menu entry starts '${exec}' with '${icon}'")
  endif()
  file(READ ${metainfo_file} meta)
  if(NOT meta MATCHES "<launchable type=\"desktop-id\">tamberlin.desktop</launchable>")
    message(FATAL_ERROR "the AppStream file does not launch tamberlin.desktop")
  endif()
  if(NOT meta MATCHES "<release version=\"${VERSION}\"")
    message(FATAL_ERROR "the AppStream file has no release entry for version ${VERSION}")
  endif()
  message(STATUS "installed tree under ${PREFIX} is complete")

elseif(CHECK STREQUAL "desktop")
  find_program(validator desktop-file-validate)
  if(NOT validator)
    message("SKIPPED: desktop-file-validate is not installed (package desktop-file-utils)")
    return()
  endif()
  execute_process(COMMAND ${validator} ${desktop_file} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR out MATCHES "error:" OR err MATCHES "error:")
    message(FATAL_ERROR "desktop-file-validate ${desktop_file}:\n${out}${err}")
  endif()

elseif(CHECK STREQUAL "metainfo")
  find_program(validator appstreamcli)
  if(NOT validator)
    message("SKIPPED: appstreamcli is not installed (package appstream)")
    return()
  endif()
  execute_process(COMMAND ${validator} validate --no-net ${metainfo_file}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate --no-net ${metainfo_file}:\n${out}${err}")
  endif()
  message(STATUS "${out}")

else()
  message(FATAL_ERROR "CHECK must be tree, desktop or metainfo, not '${CHECK}'")
endif()

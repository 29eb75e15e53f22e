# make install: the programs and the branding file go together into one program folder
# (the programs find Morvane.dll and the settings files beside themselves), with links to
# the programs in bin/, the desktop entry and the icon.
set(MORVANE_PROGRAM_DIR libexec/morvane)
set(programs morvane)
if(TARGET morvane-gui)
  list(APPEND programs morvane-gui)
endif()
install(TARGETS ${programs} RUNTIME DESTINATION ${MORVANE_PROGRAM_DIR})
if(DEFINED MORVANE_BRANDING_FILE)
  install(FILES ${MORVANE_BRANDING_FILE} DESTINATION ${MORVANE_PROGRAM_DIR})
endif()
foreach(p ${programs})
  install(CODE "
    set(bindir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(MAKE_DIRECTORY \"\${bindir}\")
    file(REMOVE \"\${bindir}/${p}\")
    file(CREATE_LINK \"../${MORVANE_PROGRAM_DIR}/${p}\" \"\${bindir}/${p}\" SYMBOLIC)
    message(STATUS \"Installing: \${bindir}/${p} -> ../${MORVANE_PROGRAM_DIR}/${p}\")")
endforeach()
# The manual page and the shell completions of the command line.
install(FILES ${CMAKE_BINARY_DIR}/morvane.1 DESTINATION share/man/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../data/completion/morvane.bash DESTINATION share/bash-completion/completions
        RENAME morvane)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../data/completion/_morvane DESTINATION share/zsh/site-functions)
if(TARGET morvane-gui)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/../data/morvane.desktop DESTINATION share/applications)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/../data/morvane.svg DESTINATION share/icons/hicolor/scalable/apps)
  # The Chinese windows need a font with Chinese characters; say so where the installer is read.
  install(CODE "
    execute_process(COMMAND fc-list :lang=zh OUTPUT_VARIABLE cjk ERROR_QUIET)
    if(NOT cjk)
      message(STATUS \"Note: morvane-gui shows its Chinese windows only with a Chinese font installed: \"
                     \"apt install fonts-wqy-microhei (small) or fonts-noto-cjk (fuller).\")
    endif()")
endif()

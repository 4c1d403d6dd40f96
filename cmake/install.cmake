# cmake --install: a normal Unix tree under the prefix. Included last from the
# top CMakeLists.txt, after the targets are made.
include(GNUInstallDirs)

if(NOT WIN32)
  # udev reads rules from /usr/lib/udev/rules.d (and /etc/udev/rules.d); under
  # another prefix the rule is installed for the record only.
  set(PALVO_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
      "Where the handset's udev rule goes (relative to the prefix, or absolute)")

  set(PALVO_MAN_DIR ${CMAKE_BINARY_DIR}/man)
  foreach(page palvo.1 palvo-handset.1)
    configure_file(${CMAKE_SOURCE_DIR}/dist/man/${page}.in ${PALVO_MAN_DIR}/${page} @ONLY)
  endforeach()

  if(TARGET palvo)
    install(TARGETS palvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PALVO_MAN_DIR}/palvo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES dist/bash-completion/palvo
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
    install(FILES dist/udev/60-palvo.rules DESTINATION ${PALVO_UDEV_RULES_DIR})
  endif()
  if(TARGET palvo-handset)
    install(TARGETS palvo-handset RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PALVO_MAN_DIR}/palvo-handset.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES dist/bash-completion/palvo-handset
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
    # The sample content, and where the installed program looks for it.
    install(DIRECTORY handset/sample/ DESTINATION ${CMAKE_INSTALL_DATADIR}/palvo/sample)
    file(RELATIVE_PATH PALVO_SAMPLE_FROM_BIN /${CMAKE_INSTALL_BINDIR}
         /${CMAKE_INSTALL_DATADIR}/palvo/sample)
    target_compile_definitions(palvo-handset PRIVATE
                               PALVO_INSTALLED_SAMPLE="${PALVO_SAMPLE_FROM_BIN}")
  endif()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # The installed tree, the man pages and the completion against the programs.
  if(PALVO_TESTS AND TARGET palvo AND TARGET palvo-handset)
    add_test(NAME install_tree
             COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/install_test.sh ${CMAKE_COMMAND}
                     ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
    add_test(NAME man_pages
             COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/man_test.sh ${PALVO_MAN_DIR}
                     $<TARGET_FILE:palvo> $<TARGET_FILE:palvo-handset>)
    add_test(NAME bash_completion
             COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/completion_test.sh
                     ${CMAKE_SOURCE_DIR}/dist/bash-completion $<TARGET_FILE:palvo>
                     $<TARGET_FILE:palvo-handset>)
    set_tests_properties(install_tree man_pages bash_completion PROPERTIES TIMEOUT 120)
  endif()
endif()

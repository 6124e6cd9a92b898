# UI tests (offscreen Qt). Included from tests/CMakeLists.txt when the GUI is built.
if(TARGET tarn_app)
  tarn_test(test_checker checker tarn_app)
  if(TARGET test_checker)
    target_link_libraries(test_checker PRIVATE Qt6::Test)
  endif()
  # The real sound player heard through a private sound server.
  tarn_test(test_sound sound tarn_checker)
  tarn_test(test_maillist maillist tarn_app tarn_dovecot_fixture)
  if(TARGET test_maillist)
    target_link_libraries(test_maillist PRIVATE Qt6::Test)
  endif()
  tarn_test(test_auxwin auxwin tarn_app)
  if(TARGET test_auxwin)
    target_link_libraries(test_auxwin PRIVATE Qt6::Test)
  endif()
  tarn_test(test_app app tarn_app tarn_dovecot_fixture)
  if(TARGET test_app)
    target_link_libraries(test_app PRIVATE Qt6::Test)
    # Some tests run the built program itself.
    if(TARGET tarnwick)
      add_dependencies(test_app tarnwick)
      target_compile_definitions(test_app PRIVATE TARNWICK_BIN="$<TARGET_FILE:tarnwick>")
    endif()
  endif()
endif()

# The preferences dialog (offscreen), with the private Dovecot for the mailbox list.
if(TARGET tarn_app)
  tarn_test(test_prefs prefs tarn_app tarn_dovecot_fixture)
  if(TARGET test_prefs)
    target_link_libraries(test_prefs PRIVATE Qt6::Test)
  endif()
endif()

# Installing into a temporary prefix, then starting the installed program.
if(TARGET tarnwick)
  tarn_test(test_install install tarn_platform)
  if(TARGET test_install)
    add_dependencies(test_install tarnwick tarnwick-check)
    if(TARGET tarn_icons)
      add_dependencies(test_install tarn_icons)
    endif()
    target_compile_definitions(test_install PRIVATE TARN_CMAKE_COMMAND="${CMAKE_COMMAND}"
                               TARN_BINARY_DIR="${CMAKE_BINARY_DIR}"
                               TARN_DEFAULTS_DIR="${CMAKE_SOURCE_DIR}/resources/defaults")
  endif()
endif()

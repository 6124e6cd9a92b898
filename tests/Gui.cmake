# UI tests (offscreen Qt). Included from tests/CMakeLists.txt when the GUI is built.
if(TARGET tarn_app)
  tarn_test(test_checker checker tarn_app)
  if(TARGET test_checker)
    target_link_libraries(test_checker PRIVATE Qt6::Test)
  endif()
  tarn_test(test_app app tarn_app tarn_dovecot_fixture)
  if(TARGET test_app)
    target_link_libraries(test_app PRIVATE Qt6::Test)
    # Some tests run the built program itself.
    if(TARGET tarnwick)
      add_dependencies(test_app tarnwick)
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

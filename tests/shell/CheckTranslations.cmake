# Fails when the committed tallowdesk_en.ts is not in step with the tr() texts
# of shell/: a text was added, changed or removed in the code but the .ts that
# the build updated was not committed with it.
#
#   cmake -DLUPDATE=<lupdate> -DSOURCE_ROOT=<checkout> -DWORK_DIR=<scratch> -P CheckTranslations.cmake
set(ts_path resources/translations/tallowdesk_en.ts)
file(MAKE_DIRECTORY "${WORK_DIR}")
set(committed "${WORK_DIR}/committed.ts")
set(updated "${WORK_DIR}/updated.ts")
execute_process(
  COMMAND git -C "${SOURCE_ROOT}" show "HEAD:${ts_path}"
  OUTPUT_FILE "${committed}" ERROR_VARIABLE git_error RESULT_VARIABLE git_result)
if(NOT git_result EQUAL 0)
  message(FATAL_ERROR "Cannot read the committed ${ts_path} (this check needs a git checkout): "
                      "${git_error}")
endif()
configure_file("${committed}" "${updated}" COPYONLY)
execute_process(
  COMMAND "${LUPDATE}" -silent -locations none -no-obsolete "${SOURCE_ROOT}/shell" -ts "${updated}"
  RESULT_VARIABLE lupdate_result)
if(NOT lupdate_result EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${lupdate_result})")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${committed}" "${updated}"
                RESULT_VARIABLE differ)
if(differ)
  execute_process(COMMAND diff -u "${committed}" "${updated}" OUTPUT_VARIABLE changes)
  message(FATAL_ERROR "The committed ${ts_path} is not in step with the texts of shell/. "
                      "Build (the build updates it) and commit it. Changes:\n${changes}")
endif()
message(STATUS "${ts_path} is in step with shell/")

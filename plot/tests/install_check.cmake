# Install the plot component to PREFIX and run the installed frame_stats_plot
# on a small synthetic report: it must find its module where it was installed.
# Variables: BUILD_DIR, PREFIX, BINDIR, REPORT_SCRIPT, PYTHON.

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --component plot
                        --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "installing the plot component failed: ${status}")
endif()

set(report "${PREFIX}/report.txt")
execute_process(COMMAND "${PYTHON}" "${REPORT_SCRIPT}" "${report}" --frames 3
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "writing the synthetic report failed: ${status}")
endif()

execute_process(COMMAND "${PREFIX}/${BINDIR}/frame_stats_plot" --summary "${report}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "^frames 3\n")
  message(FATAL_ERROR "installed frame_stats_plot failed (${status}):\n${out}${err}")
endif()
message(STATUS "installed frame_stats_plot works:\n${out}")

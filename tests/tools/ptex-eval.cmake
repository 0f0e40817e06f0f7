# ptex-eval on the reference filter tables (one CTest case per table) and its error handling.
if(TARGET ptex-eval)
  if(IS_DIRECTORY ${TARSK_TESTDATA_DIR})
    file(GLOB ptex_eval_tables ${TARSK_TESTDATA_DIR}/*.filter.tsv)
    foreach(table ${ptex_eval_tables})
      get_filename_component(table_name ${table} NAME)
      string(REGEX REPLACE "\\.filter\\.tsv$" "" base ${table_name})
      set(premultiply "")
      # NAME.premult.filter.tsv holds the results through a premultiplying cache.
      if(base MATCHES "\\.premult$")
        string(REGEX REPLACE "\\.premult$" "" base ${base})
        set(premultiply --premultiply)
      endif()
      add_test(NAME ptex-eval.check.${table_name}
        COMMAND ptex-eval --check ${premultiply} ${base}.ptx ${table_name}
        WORKING_DIRECTORY ${TARSK_TESTDATA_DIR})
      set_tests_properties(ptex-eval.check.${table_name} PROPERTIES LABELS "ptex;tools")
    endforeach()

    # Results do not depend on the number of threads, and keep the input order.
    add_test(NAME ptex-eval.threads-same-output
      COMMAND sh -c "\"$1\" --threads 2 quad_grid_u8.ptx quad_grid_u8.filter.tsv > \"$2/eval-threads2.tsv\" && \"$1\" quad_grid_u8.ptx quad_grid_u8.filter.tsv > \"$2/eval-threads1.tsv\" && cmp \"$2/eval-threads1.tsv\" \"$2/eval-threads2.tsv\""
        sh $<TARGET_FILE:ptex-eval> ${CMAKE_CURRENT_BINARY_DIR}
      WORKING_DIRECTORY ${TARSK_TESTDATA_DIR})
    add_test(NAME ptex-eval.missing-file
      COMMAND ptex-eval bad/missing.ptx quad_grid_u8.filter.tsv
      WORKING_DIRECTORY ${TARSK_TESTDATA_DIR})
    set_tests_properties(ptex-eval.missing-file PROPERTIES
      PASS_REGULAR_EXPRESSION "^ptex-eval: Can't open ptex file: bad/missing.ptx No such file or directory\n$")

    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/eval-bad-header.tsv "filter\tlerp\tsharpness\n0\t0\t0\n")
    add_test(NAME ptex-eval.bad-header
      COMMAND ptex-eval quad_grid_u8.ptx ${CMAKE_CURRENT_BINARY_DIR}/eval-bad-header.tsv
      WORKING_DIRECTORY ${TARSK_TESTDATA_DIR})
    set_tests_properties(ptex-eval.bad-header PROPERTIES
      PASS_REGULAR_EXPRESSION "eval-bad-header.tsv:1: bad header: missing column 'noedgeblend'")

    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/eval-bad-row.tsv
      "filter\tlerp\tsharpness\tnoedgeblend\tfaceid\tu\tv\tuw1\tvw1\tuw2\tvw2\twidth\tblur\tfirstchan\tnchannels\n"
      "2\t0\t0\t0\t0\t0.5\t0.5\t0\t0\t0\t0\t1\t0\t0\t3\n"
      "2\t0\t0\t0\t0\t0.5\tabc\t0\t0\t0\t0\t1\t0\t0\t3\n")
    add_test(NAME ptex-eval.malformed-row
      COMMAND ptex-eval quad_grid_u8.ptx ${CMAKE_CURRENT_BINARY_DIR}/eval-bad-row.tsv
      WORKING_DIRECTORY ${TARSK_TESTDATA_DIR})
    set_tests_properties(ptex-eval.malformed-row PROPERTIES
      PASS_REGULAR_EXPRESSION "eval-bad-row.tsv:3: malformed row: bad value 'abc' in column 'v'")
    set_tests_properties(ptex-eval.threads-same-output ptex-eval.missing-file ptex-eval.bad-header
      ptex-eval.malformed-row PROPERTIES LABELS "ptex;tools")
  else()
    add_test(NAME ptex-eval.check.skipped
      COMMAND sh -c "echo 'ptex-eval checks skipped: no test data at ${TARSK_TESTDATA_DIR}'; exit 77")
    set_tests_properties(ptex-eval.check.skipped PROPERTIES SKIP_RETURN_CODE 77 LABELS "ptex;tools")
  endif()
endif()

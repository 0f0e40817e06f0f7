# Installs the build tree into a scratch prefix, configures and builds the consumer project
# against it, and runs what it built and the installed programs.
#   cmake -DBUILD_DIR=... -DCONSUMER_DIR=... -DWORK_DIR=... -P ConsumerTest.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

function(run_step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "${what} failed (${code}):\n${out}\n${err}")
  endif()
  set(step_output "${out}${err}" PARENT_SCOPE)
endfunction()

function(expect_in text part)
  string(FIND "${text}" "${part}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "expected \"${part}\" in:\n${text}")
  endif()
endfunction()

run_step("install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
foreach(installed lib/tarsk/plugins/tarsk_TexPtex.so lib/libtarsk.so include/tarsk/TarskPluginParameter.h
                  include/tarsk/PluginDesc.h include/tarsk-ptex/Ptexture.h lib/cmake/TarskSDK/TarskSDKConfig.cmake
                  bin/ptex-info bin/tarsk-plugins)
  if(NOT EXISTS "${prefix}/${installed}")
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()
# Our Ptex headers must not land where an installed Ptex library's headers live.
if(EXISTS "${prefix}/include/Ptexture.h")
  message(FATAL_ERROR "Ptexture.h installed into include/, where it would shadow an installed Ptex")
endif()

run_step("consumer configure" ${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/build"
         "-DCMAKE_PREFIX_PATH=${prefix}" -DCMAKE_BUILD_TYPE=Release)
run_step("consumer build" ${CMAKE_COMMAND} --build "${WORK_DIR}/build")
run_step("consumer_ptex" "${WORK_DIR}/build/consumer_ptex" "${WORK_DIR}/consumer.ptx")
expect_in("${step_output}" "read and filtered")

# The installed host program loads the installed plug-in and the consumer's (no build-tree paths).
run_step("tarsk-plugins on the installed plug-in" "${prefix}/bin/tarsk-plugins"
         "${prefix}/lib/tarsk/plugins/tarsk_TexPtex.so")
expect_in("${step_output}" "type \"TexPtex\"")
execute_process(COMMAND "${prefix}/bin/tarsk-plugins" "${WORK_DIR}/build/consumer_plugin.so"
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
# The host loaded the library and called its getLibDesc, which answers a library with no types.
expect_in("${out}${err}" "consumer_plugin.so\" registers no plug-in type")
run_step("ptex-info" "${prefix}/bin/ptex-info" "${WORK_DIR}/consumer.ptx")
message(STATUS "consumer project built and ran against ${prefix}")

# Runs quorvel-ini once and compares what it printed, its exit status and,
# for a write, the file it left, with checked-in expectations.
#   -DTOOL=path [-DEMULATOR=wine64] -DWORKDIR=dir -DDATA=sample dir -DARGS=a|b|c
#   -DSTATUS=n [-DGOLDEN=expected stdout] [-DSTDERR_REGEX=re]
#   [-DINPUT=file copied into WORKDIR first [-DINPUT_AS=its name there]]
#   [-DRESULT=expected bytes of that copy afterwards]
string(REPLACE "|" ";" ARGS "${ARGS}")
# A fresh copy of every sample, so an earlier run's write cannot leak in.
file(REMOVE_RECURSE "${WORKDIR}")
file(MAKE_DIRECTORY "${WORKDIR}")
file(GLOB samples LIST_DIRECTORIES false "${DATA}/*")
file(COPY ${samples} DESTINATION "${WORKDIR}")
if(INPUT)
  get_filename_component(input_name "${INPUT}" NAME)
  if(INPUT_AS)
    set(input_name "${INPUT_AS}")
  endif()
  file(COPY_FILE "${INPUT}" "${WORKDIR}/${input_name}")
endif()
set(out "${WORKDIR}/stdout.txt")
execute_process(COMMAND ${EMULATOR} "${TOOL}" ${ARGS}
  WORKING_DIRECTORY "${WORKDIR}"
  OUTPUT_FILE "${out}" ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT "${status}" STREQUAL "${STATUS}")
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}\nstderr: ${err}")
endif()
if(GOLDEN)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${out}" "${GOLDEN}"
    RESULT_VARIABLE differs)
  if(differs)
    file(READ "${out}" got)
    message(FATAL_ERROR "standard output differs from ${GOLDEN}:\n${got}")
  endif()
else()
  file(SIZE "${out}" size)
  if(NOT size EQUAL 0)
    message(FATAL_ERROR "expected nothing on standard output")
  endif()
endif()
if(DEFINED STDERR_REGEX AND NOT err MATCHES "${STDERR_REGEX}")
  message(FATAL_ERROR "standard error does not match '${STDERR_REGEX}':\n${err}")
endif()
if(RESULT)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORKDIR}/${input_name}" "${RESULT}"
    RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${input_name} after the run differs from ${RESULT}")
  endif()
endif()

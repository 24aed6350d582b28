# Drives `vantrelctl settings` over prepared files and checks output and status.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run_ctl expected_status)
    execute_process(COMMAND ${VANTRELCTL} settings ${ARGN} TIMEOUT 20
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status STREQUAL expected_status)
        message(FATAL_ERROR "vantrelctl settings ${ARGN}: status ${status}, expected ${expected_status}\n${out}\n${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
    set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect_in text needle what)
    string(FIND "${text}" "${needle}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "${what} lacks '${needle}':\n${text}")
    endif()
endfunction()

# A hand-edited document with a bad enumeration: defaults printed, key named.
file(WRITE ${WORK}/bad.json "{\"minimizedWindows\": \"top\", \"showDelayMilliseconds\": 10}")
run_ctl(1 --decode ${WORK}/bad.json)
expect_in("${err}" "settings: key \"minimizedWindows\": \"top\" is not one of show, bottom, hide; using the defaults" stderr)
expect_in("${out}" "\"showDelayMilliseconds\": 150" stdout)

# A good document is decoded, including an explicit null search chord.
file(WRITE ${WORK}/good.json "{\"showDelayMilliseconds\": 10, \"searchChord\": null}")
run_ctl(0 --decode ${WORK}/good.json)
expect_in("${out}" "\"showDelayMilliseconds\": 10" stdout)
expect_in("${out}" "\"searchChord\": null" stdout)

run_ctl(1 --decode ${WORK}/missing.json)
expect_in("${err}" "cannot read" stderr)

# No defaults file at all: the defaults.
run_ctl(0 --defaults-file ${WORK}/none/defaults.json)
expect_in("${out}" "\"showDelayMilliseconds\": 150" stdout)

# The stored document as FileUserDefaults keeps it: a JSON string under "settings".
file(WRITE ${WORK}/defaults.json "{\"settings\": \"{\\\"appearance\\\": \\\"dark\\\"}\", \"other\": 1}")
run_ctl(0 --defaults-file ${WORK}/defaults.json)
expect_in("${out}" "\"appearance\": \"dark\"" stdout)

# A stored document that cannot be used: reported, defaults printed.
file(WRITE ${WORK}/defaults.json "{\"settings\": \"{\\\"textScale\\\": \\\"big\\\"}\"}")
run_ctl(0 --defaults-file ${WORK}/defaults.json)
expect_in("${err}" "key \"textScale\"" stderr)
expect_in("${out}" "\"textScale\": 1.0" stdout)

# A defaults file that is not JSON fails and is left where it is.
file(WRITE ${WORK}/corrupt.json "{not json")
run_ctl(1 --defaults-file ${WORK}/corrupt.json)
expect_in("${err}" "is not valid JSON" stderr)
file(GLOB aside ${WORK}/corrupt.json.*)
if(aside OR NOT EXISTS ${WORK}/corrupt.json)
    message(FATAL_ERROR "the corrupt defaults file was moved: ${aside}")
endif()

# A folder in the file's place cannot be read.
file(MAKE_DIRECTORY ${WORK}/folder.json)
run_ctl(1 --defaults-file ${WORK}/folder.json)
expect_in("${err}" "cannot read" stderr)

# Neither a FIFO nor an endless device is read: both fail at once.
execute_process(COMMAND mkfifo ${WORK}/fifo.json)
run_ctl(1 --defaults-file ${WORK}/fifo.json)
expect_in("${err}" "fifo.json: not a regular file" stderr)
file(CREATE_LINK /dev/zero ${WORK}/zero.json SYMBOLIC)
run_ctl(1 --decode ${WORK}/zero.json)
expect_in("${err}" "zero.json: not a regular file" stderr)

run_ctl(2 --bogus)

# Prints the size of the built program after each link, and keeps it in
# program-size.txt beside it, so the figure quoted anywhere is the build's own.
# usage: cmake -DPROGRAM=<file> -DLABEL=<text> -P report-size.cmake
file(SIZE "${PROGRAM}" size)
get_filename_component(name "${PROGRAM}" NAME)
get_filename_component(folder "${PROGRAM}" DIRECTORY)
set(line "${name} (${LABEL}): ${size} bytes")
message(STATUS "${line}")
file(WRITE "${folder}/program-size.txt" "${line}\n")

# Writes the Oka scripts given in INPUTS (a |-separated list, in boot order) into OUT as C++ initialisers:
#   {"name", R"oka(...)oka"},
# so that the run-time carries its library code as text.
set(content "// Generated from the Oka scripts of the library; edit those, not this file.\n")
string(REPLACE "|" ";" INPUTS "${INPUTS}")
foreach(input ${INPUTS})
  file(READ ${input} text)
  get_filename_component(name ${input} NAME)
  string(FIND "${text}" ")oka\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${input} contains the text )oka\" which ends an embedded script")
  endif()
  string(APPEND content "{\"${name}\", R\"oka(${text})oka\"},\n")
endforeach()
file(WRITE ${OUT}.tmp "${content}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)

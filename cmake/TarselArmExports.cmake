# The table of the exports tarsel::Arm wraps simply (api/arm/exports.txt, whose
# opening comment describes its columns) made into the files that follow it:
#
#   HEADER  tarsel/arm.hpp: HEADER_TEMPLATE with each line "  @ARM_EXPORTS <module>@"
#           replaced by the declarations of that module's members, each under
#           its line of documentation, where Doxygen and readers find it
#   LISTS   arm/exports.h: the table as X-macro lists, one per shape, from
#           which the members' bodies, the Python methods and the tests' and
#           fuzz targets' lists of exports are expanded
#   STUB    the Python package's stub: STUB_TEMPLATE with each line
#           "    # @ARM_EXPORTS <module>@" replaced by that module's methods
#
# tarsel_arm_exports(TABLE <file> HEADER_TEMPLATE <file> STUB_TEMPLATE <file>
#                    HEADER <file> LISTS <file> STUB <file>)
# runs when the build is configured (CMakeLists.txt), and configuring runs again
# when the table or a template changes. A file is written only when its text
# changes, so that configuring again rebuilds nothing. A malformed row stops
# the configuration with a message naming its line. The same as a script:
#   cmake -DTABLE=... -DHEADER_TEMPLATE=... -DSTUB_TEMPLATE=... -DHEADER=... \
#         -DLISTS=... -DSTUB=... -P cmake/TarselArmExports.cmake

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

# Modules with a place in both templates.
set(TARSEL_ARM_EXPORT_MODULES motion config status maintenance)

# Characters that CMake's lists would take for their own (";" separates
# elements, "[" and "]" group them) stand in as control characters while the
# table is split into lines and words, and come back when text is written.
string(ASCII 1 _tarsel_semicolon)
string(ASCII 2 _tarsel_open)
string(ASCII 3 _tarsel_close)

function(_tarsel_restore out text)
  string(REPLACE "${_tarsel_semicolon}" ";" text "${text}")
  string(REPLACE "${_tarsel_open}" "[" text "${text}")
  string(REPLACE "${_tarsel_close}" "]" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# text as lines of at most width characters after prefix (one word per line
# when a word is longer), each line ending with a newline.
function(_tarsel_wrap out text prefix width)
  string(REPLACE " " ";" words "${text}")
  set(result "")
  set(line "")
  foreach(word IN LISTS words)
    if(line STREQUAL "")
      set(line "${word}")
      continue()
    endif()
    string(LENGTH "${line} ${word}" length)
    if(length GREATER width)
      string(APPEND result "${prefix}${line}\n")
      set(line "${word}")
    else()
      string(APPEND line " ${word}")
    endif()
  endforeach()
  string(APPEND result "${prefix}${line}\n")
  _tarsel_restore(result "${result}")
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# The Python annotation of a C++ type: numbers as int, float or bool,
# std::vector<T> as list[T], a record under its own name.
function(_tarsel_python_type out type)
  if(type MATCHES "^std::vector<(.+)>$")
    _tarsel_python_type(element "${CMAKE_MATCH_1}")
    set(${out} "list${_tarsel_open}${element}${_tarsel_close}" PARENT_SCOPE)
  elseif(type MATCHES "^((un)?signed )?(int|short|long|long long|char)$" OR type STREQUAL "unsigned")
    set(${out} int PARENT_SCOPE)
  elseif(type MATCHES "^(float|double)$")
    set(${out} float PARENT_SCOPE)
  elseif(type STREQUAL "bool")
    set(${out} bool PARENT_SCOPE)
  else()
    set(${out} "${type}" PARENT_SCOPE)
  endif()
endfunction()

# Writes text to file unless the file holds it already.
function(_tarsel_write_if_changed file text)
  if(EXISTS "${file}")
    file(READ "${file}" old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE "${file}" "${text}")
endfunction()

# Replaces the line placeholder in text with block; fails unless the
# placeholder is there exactly once.
function(_tarsel_fill out text placeholder block template)
  string(FIND "${text}" "${placeholder}" first)
  string(FIND "${text}" "${placeholder}" last REVERSE)
  if(first EQUAL -1 OR NOT first EQUAL last)
    message(FATAL_ERROR "${template}: needs the line \"${placeholder}\" exactly once")
  endif()
  string(REPLACE "${placeholder}" "${block}" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(tarsel_arm_exports)
  cmake_parse_arguments(PARSE_ARGV 0 arg ""
    "TABLE;HEADER_TEMPLATE;STUB_TEMPLATE;HEADER;LISTS;STUB" "")
  foreach(required TABLE HEADER_TEMPLATE STUB_TEMPLATE HEADER LISTS STUB)
    if(NOT arg_${required})
      message(FATAL_ERROR "tarsel_arm_exports: ${required} missing")
    endif()
  endforeach()
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
      "${arg_TABLE}" "${arg_HEADER_TEMPLATE}" "${arg_STUB_TEMPLATE}"
      "${CMAKE_CURRENT_FUNCTION_LIST_FILE}")
  endif()

  file(READ "${arg_TABLE}" table)
  string(REPLACE ";" "${_tarsel_semicolon}" table "${table}")
  string(REPLACE "[" "${_tarsel_open}" table "${table}")
  string(REPLACE "]" "${_tarsel_close}" table "${table}")
  string(REPLACE "\n" ";" lines "${table}")

  foreach(module IN LISTS TARSEL_ARM_EXPORT_MODULES)
    set(declarations_${module} "")
    set(methods_${module} "")
  endforeach()
  foreach(list reads pointer_reads bare writes pair_writes)
    set(${list} "")
  endforeach()
  set(names "")
  set(python_names "")
  set(number 0)
  set(identifier "[A-Za-z_][A-Za-z0-9_]*")
  set(column "[ \t]*([^|]*[^| \t])[ \t]*")
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(line MATCHES "^[ \t]*(#.*)?$")
      continue()
    endif()
    set(where "${arg_TABLE}:${number}")
    if(NOT line MATCHES "^${column}\\|${column}\\|${column}\\|${column}\\|${column}\\|${column}\\|${column}\\|${column}$")
      message(FATAL_ERROR "${where}: expected eight columns separated by '|', none empty")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(python "${CMAKE_MATCH_2}")
    set(module "${CMAKE_MATCH_3}")
    set(shape "${CMAKE_MATCH_4}")
    set(record "${CMAKE_MATCH_5}")
    set(arguments "${CMAKE_MATCH_6}")
    set(check "${CMAKE_MATCH_7}")
    set(doc "${CMAKE_MATCH_8}")

    if(NOT name MATCHES "^${identifier}$" OR name IN_LIST names)
      message(FATAL_ERROR "${where}: '${name}' is no name, or a second row of it")
    endif()
    if(NOT python MATCHES "^[a-z_][a-z0-9_]*$" OR python IN_LIST python_names)
      message(FATAL_ERROR "${where}: '${python}' is no Python name, or a second row of it")
    endif()
    list(APPEND names "${name}")
    list(APPEND python_names "${python}")
    if(NOT module IN_LIST TARSEL_ARM_EXPORT_MODULES)
      message(FATAL_ERROR "${where}: module '${module}' is none of ${TARSEL_ARM_EXPORT_MODULES}")
    endif()
    if(doc MATCHES "\\\\|\"")
      message(FATAL_ERROR "${where}: the doc line may hold no backslash and no double quote")
    endif()
    if(shape STREQUAL "bare")
      set(record "-")
    elseif(NOT record MATCHES "^[A-Za-z_][A-Za-z0-9_:<> ]*[A-Za-z0-9_>]$")
      message(FATAL_ERROR "${where}: record '${record}' is no C++ type")
    endif()

    # What every consumer needs: the C++ parameters, the Python ones, the
    # returned types.
    set(argument_list "")
    if(NOT arguments STREQUAL "-")
      string(REGEX REPLACE "[ \t]+" ";" argument_list "${arguments}")
    endif()
    list(LENGTH argument_list argument_count)
    if(shape STREQUAL "write")
      if(argument_count EQUAL 0 OR argument_count GREATER 2)
        message(FATAL_ERROR "${where}: a write takes one or two arguments")
      endif()
      if(check STREQUAL "-")
        set(check NoCheck)
      elseif(NOT check MATCHES "^${identifier}$")
        message(FATAL_ERROR "${where}: check '${check}' is no function name")
      endif()
    elseif(NOT arguments STREQUAL "-" OR NOT check STREQUAL "-")
      message(FATAL_ERROR "${where}: only a write has arguments and a check")
    endif()
    if(record MATCHES "^((un)?signed )?(int|short|long|long long|char|float|double|bool)$"
       OR record STREQUAL "unsigned")
      set(parameter_type "${record}")  # plain numbers are passed by value
    else()
      set(parameter_type "const ${record}&")
    endif()
    _tarsel_python_type(python_record "${record}")
    set(cpp_parameters "")
    set(python_parameters "self")
    set(list_arguments "")
    foreach(argument IN LISTS argument_list)
      if(NOT argument MATCHES "^${identifier}$")
        message(FATAL_ERROR "${where}: argument '${argument}' is no name")
      endif()
      string(REGEX REPLACE "([a-z0-9])([A-Z])" "\\1_\\2" python_argument "${argument}")
      string(TOLOWER "${python_argument}" python_argument)
      if(cpp_parameters)
        string(APPEND cpp_parameters ", ")
      endif()
      string(APPEND cpp_parameters "${parameter_type} ${argument}")
      string(APPEND python_parameters ", ${python_argument}: ${python_record}")
      string(APPEND list_arguments ", ${argument}, ${python_argument}")
    endforeach()

    # tarsel/arm.hpp and the stub.
    _tarsel_wrap(cpp_doc "${doc}" "  /// " 90)
    _tarsel_wrap(python_doc "\"\"\"${doc}\"\"\"" "        " 92)
    set(c_doc "\"${doc}\"")
    if(shape STREQUAL "read" OR shape STREQUAL "read-pointer")
      set(declaration "${record} ${name}();")
      set(python_result "${python_record}")
    elseif(shape STREQUAL "bare" OR shape STREQUAL "write")
      set(declaration "void ${name}(${cpp_parameters});")
      set(python_result "None")
    else()
      message(FATAL_ERROR "${where}: shape '${shape}' is none of read, read-pointer, bare, write")
    endif()
    if(NOT shape STREQUAL "write")
      set(python_parameters "self")
    endif()
    string(APPEND declarations_${module} "${cpp_doc}  ${declaration}\n")
    _tarsel_restore(python_result "${python_result}")
    _tarsel_restore(python_parameters "${python_parameters}")
    string(APPEND methods_${module}
      "    def ${python}(${python_parameters}) -> ${python_result}:\n${python_doc}")

    # arm/exports.h
    set(row "  X(${name}, ${python}, ${module}")
    if(shape STREQUAL "read")
      list(APPEND reads "${row}, ${record}, ${c_doc})")
    elseif(shape STREQUAL "read-pointer")
      list(APPEND pointer_reads "${row}, ${record}, ${c_doc})")
    elseif(shape STREQUAL "bare")
      list(APPEND bare "${row}, ${c_doc})")
    elseif(argument_count EQUAL 1)
      list(APPEND writes "${row}, ${record}, ${check}, ${c_doc}${list_arguments})")
    else()
      list(APPEND pair_writes "${row}, ${record}, ${check}, ${c_doc}${list_arguments})")
    endif()
  endforeach()

  # The lists. Their rows hold ';' only as the stand-in, so the CMake lists
  # split where they should.
  set(lists "// Made from api/arm/exports.txt by cmake/TarselArmExports.cmake when the build is\n")
  string(APPEND lists "// configured: edit the table, not this file. Each list calls X once per row. A\n")
  string(APPEND lists "// member takes a plain number (int, float...) by value, any other Record by const&.\n")
  string(APPEND lists "#pragma once\n")
  foreach(entry
      "reads;TARSEL_ARM_READS;X(name, python, module, Record, doc): Record name() over int name(Record&)"
      "pointer_reads;TARSEL_ARM_POINTER_READS;X(name, python, module, Record, doc): Record name() over int name(Record*)"
      "bare;TARSEL_ARM_BARE_COMMANDS;X(name, python, module, doc): void name() over int name()"
      "writes;TARSEL_ARM_WRITES;X(name, python, module, Record, Check, doc, a, python_a): void name(a) over int name(Record), after Check(\"name\", \"a\", a)"
      "pair_writes;TARSEL_ARM_PAIR_WRITES;X(name, python, module, Record, Check, doc, a, python_a, b, python_b): void name(a, b) over int name(Record, Record), after Check on a, then on b")
    list(GET entry 0 variable)
    list(GET entry 1 macro)
    list(GET entry 2 comment)
    string(APPEND lists "\n// ${comment}\n#define ${macro}(X)")
    foreach(row IN LISTS ${variable})
      string(APPEND lists " \\\n${row}")
    endforeach()
    string(APPEND lists "\n")
  endforeach()
  _tarsel_restore(lists "${lists}")

  file(READ "${arg_HEADER_TEMPLATE}" header)
  file(READ "${arg_STUB_TEMPLATE}" stub)
  foreach(module IN LISTS TARSEL_ARM_EXPORT_MODULES)
    _tarsel_fill(header "${header}" "  @ARM_EXPORTS ${module}@\n" "${declarations_${module}}"
      "${arg_HEADER_TEMPLATE}")
    _tarsel_fill(stub "${stub}" "    # @ARM_EXPORTS ${module}@\n" "${methods_${module}}"
      "${arg_STUB_TEMPLATE}")
  endforeach()
  set(header "// Made from api/arm/arm.hpp.in and api/arm/exports.txt when the build was configured.\n${header}")

  _tarsel_write_if_changed("${arg_HEADER}" "${header}")
  _tarsel_write_if_changed("${arg_LISTS}" "${lists}")
  _tarsel_write_if_changed("${arg_STUB}" "${stub}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  tarsel_arm_exports(TABLE "${TABLE}" HEADER_TEMPLATE "${HEADER_TEMPLATE}"
    STUB_TEMPLATE "${STUB_TEMPLATE}" HEADER "${HEADER}" LISTS "${LISTS}" STUB "${STUB}")
endif()

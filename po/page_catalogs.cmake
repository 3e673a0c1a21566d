# Writes OUTPUT, the line's Cockpit page's catalogs as a JavaScript module: for each po/<language>.po
# in CATALOGS, the page's texts (those of TEMPLATE, the page's own template) mapped from the Spanish
# text to the language's, and the programs' texts without a format (those of RECORD_TEMPLATE), which
# a record's error is when whole. A PO file's quoted strings are JavaScript strings as they stand.
# cmake -DCATALOGS=<a.po;b.po> -DTEMPLATE=<page.pot> -DRECORD_TEMPLATE=<programs.pot>
#       -DMSGMERGE=... -DMSGATTRIB=... -DOUTPUT=<js> -P page_catalogs.cmake

# catalog_entries(CATALOG TEMPLATE VARIABLE): VARIABLE gets the JavaScript object's lines of the
# translated entries of CATALOG that TEMPLATE holds; a format (c-format) is left out.
function(catalog_entries catalog template variable)
  execute_process(
    COMMAND ${MSGMERGE} --quiet --no-fuzzy-matching --no-wrap --output-file=- ${catalog} ${template}
    COMMAND ${MSGATTRIB} --no-obsolete --translated --no-fuzzy --no-wrap --no-location
    OUTPUT_VARIABLE text RESULTS_VARIABLE results)
  foreach(result IN LISTS results)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "${catalog}: msgmerge or msgattrib failed")
    endif()
  endforeach()
  # One list item a line: the semicolons in the texts set aside first.
  string(REPLACE ";" "@SEMICOLON@" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(js "")
  set(id "")
  set(str "")
  set(field "")
  set(format FALSE)
  set(formats FALSE)
  list(APPEND lines "msgid \"\"")  # flushes the last entry
  foreach(line IN LISTS lines)
    if(line MATCHES "^#,.*c-format")
      set(formats TRUE)
    elseif(line MATCHES "^msgid \"(.*)\"$")
      if(NOT id STREQUAL "" AND NOT str STREQUAL "" AND NOT format)
        string(APPEND js "    \"${id}\": \"${str}\",\n")
      endif()
      set(id "${CMAKE_MATCH_1}")
      set(str "")
      set(field id)
      set(format ${formats})
      set(formats FALSE)
    elseif(line MATCHES "^msgstr \"(.*)\"$")
      set(str "${CMAKE_MATCH_1}")
      set(field str)
    elseif(line MATCHES "^\"(.*)\"$" AND field)
      string(APPEND ${field} "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^msg")
      set(field "")  # contexts and plurals: the page has none
    endif()
  endforeach()
  string(REPLACE "@SEMICOLON@" ";" js "${js}")
  set(${variable} "${js}" PARENT_SCOPE)
endfunction()

set(page "")
set(records "")
foreach(catalog IN LISTS CATALOGS)
  get_filename_component(language ${catalog} NAME_WE)
  catalog_entries(${catalog} ${TEMPLATE} entries)
  string(APPEND page "  \"${language}\": {\n${entries}  },\n")
  catalog_entries(${catalog} ${RECORD_TEMPLATE} entries)
  string(APPEND records "  \"${language}\": {\n${entries}  },\n")
endforeach()
file(WRITE ${OUTPUT} "// Made by the build from po/<language>.po (po/page_catalogs.cmake): the line's \
page's texts,
// from the Spanish text to each language's.
export default {
${page}};

// The programs' texts, for a record's error written in Spanish.
export const records = {
${records}};
")

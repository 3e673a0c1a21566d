# Writes OUTPUT, the line's Cockpit page's catalogs as a JavaScript module: for each po/<language>.po
# in CATALOGS, the page's texts (those of TEMPLATE, the page's own template) mapped from the Spanish
# text to the language's. A PO file's quoted strings are JavaScript strings as they stand.
# cmake -DCATALOGS=<a.po;b.po> -DTEMPLATE=<page.pot> -DMSGMERGE=... -DMSGATTRIB=... -DOUTPUT=<js>
#       -P page_catalogs.cmake
string(CONCAT js "// Made by the build from po/<language>.po (po/page_catalogs.cmake): the line's page's texts,\n"
       "// from the Spanish text to each language's.\nexport default {\n")
foreach(catalog IN LISTS CATALOGS)
  get_filename_component(language ${catalog} NAME_WE)
  execute_process(
    COMMAND ${MSGMERGE} --quiet --no-fuzzy-matching --no-wrap --output-file=- ${catalog} ${TEMPLATE}
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
  string(APPEND js "  \"${language}\": {\n")
  set(id "")
  set(str "")
  set(field "")
  list(APPEND lines "msgid \"\"")  # flushes the last entry
  foreach(line IN LISTS lines)
    if(line MATCHES "^msgid \"(.*)\"$")
      if(NOT id STREQUAL "" AND NOT str STREQUAL "")
        string(APPEND js "    \"${id}\": \"${str}\",\n")
      endif()
      set(id "${CMAKE_MATCH_1}")
      set(str "")
      set(field id)
    elseif(line MATCHES "^msgstr \"(.*)\"$")
      set(str "${CMAKE_MATCH_1}")
      set(field str)
    elseif(line MATCHES "^\"(.*)\"$" AND field)
      string(APPEND ${field} "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^msg")
      set(field "")  # contexts and plurals: the page has none
    endif()
  endforeach()
  string(APPEND js "  },\n")
endforeach()
string(APPEND js "};\n")
string(REPLACE "@SEMICOLON@" ";" js "${js}")
file(WRITE ${OUTPUT} "${js}")

# Generates the Unix locale ja_JP.UTF-8 into LOCALES with localedef (no root needed for a folder
# of our own), for the tests run under code page 932: Wine takes a process's ANSI code page from
# its Unix locale, LC_ALL=ja_JP.UTF-8 with LOCPATH=LOCALES.
#   cmake -DLOCALEDEF=... -DLOCALES=... -P JapaneseLocale.cmake
set(locale ${LOCALES}/ja_JP.UTF-8)
file(REMOVE_RECURSE ${locale})
file(MAKE_DIRECTORY ${LOCALES})
# localedef answers 1 for warnings with the locale written; only a locale that is not there fails.
execute_process(COMMAND ${LOCALEDEF} -i ja_JP -f UTF-8 ${locale}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT EXISTS ${locale}/LC_CTYPE)
  message(FATAL_ERROR "localedef made no ${locale} (${result}):\n${output}")
endif()

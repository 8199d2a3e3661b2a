// Death tests of fatal checks. fatal() writes its report to standard output through
// the default console; a death test reads standard error, so the statement runs with
// standard output sent there and the default console installed.
#ifndef NUBRIX_TEST_SUPPORT_FATAL_TEST_H
#define NUBRIX_TEST_SUPPORT_FATAL_TEST_H

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include "utils/console.h"

#define EXPECT_FATAL(statement, regex)              \
  EXPECT_DEATH(                                     \
      {                                             \
        fflush(stdout);                             \
        dup2(STDERR_FILENO, STDOUT_FILENO);         \
        nubrix::set_console(new nubrix::Console()); \
        statement;                                  \
      },                                            \
      regex)

#endif

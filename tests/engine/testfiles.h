// The engine tests' files come from the shared test support.
#ifndef PELMAR_TESTS_ENGINE_TESTFILES_H
#define PELMAR_TESTS_ENGINE_TESTFILES_H

#include "tests/testfiles.h"

#endif

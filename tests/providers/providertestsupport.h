#pragma once

#include "support/fakeclock.h"
#include "support/fakeprocesses.h"
#include "support/process.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <thread>

namespace loomwatch::providers::test {

using namespace loomwatch::testing;

} // namespace loomwatch::providers::test

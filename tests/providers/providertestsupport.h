#pragma once

#include "support/fakeclock.h"
#include "support/fakeprocesses.h"
#include "support/fakeprovider.h"
#include "support/process.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <memory>

// The names every provider test uses.
using namespace loomwatch;
using namespace loomwatch::providers;
using namespace loomwatch::testing;
using model::AgentTool;
using namespace std::chrono_literals;

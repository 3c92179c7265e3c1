#pragma once
// The engine fixes its lock folder at the first attach of the process: one private folder that
// lives as long as the test process, set before any TestEnv. False when it cannot be made.

namespace pw::test {

[[nodiscard]] bool ensureProcessLockFolder();

}  // namespace pw::test

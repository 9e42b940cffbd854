// The target that precompiles the test framework's headers has to compile something.

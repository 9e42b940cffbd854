// The target that precompiles Qt's headers for the libraries has to compile something.

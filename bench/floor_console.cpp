// The empty-console floor of the examination benchmark: a console program linked like
// tkexamine that does nothing at all. What it costs is the price of starting any program
// this way under the same loader.
int wmain() { return 0; }

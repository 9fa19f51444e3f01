// The entry point on Linux, whose arguments are UTF-8 already.
int UpdaterCliMain(int argc, char** argv);  // updater_cli.cpp

int main(int argc, char** argv) { return UpdaterCliMain(argc, argv); }

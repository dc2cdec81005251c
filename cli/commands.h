#pragma once

// Each quarvel-cli command: argv[0] is the command name; returns the exit status.
int RunScpiCommand(int argc, char** argv);
int RunScreenshotCommand(int argc, char** argv);
int RunCaptureCommand(int argc, char** argv);
int RunListCommand(int argc, char** argv);
int RunFamiliesCommand(int argc, char** argv);

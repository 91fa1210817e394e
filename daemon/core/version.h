#pragma once

// The version the daemon reports in its banner and in its started line.
#define QX_DAEMON_VERSION "2.4.9"

// Times a program from its launch to its first window being mapped: starts
// the program given on the command line, waits for the first MapNotify of a
// top-level window on the X server in DISPLAY, prints the milliseconds in
// between and ends the program. Status 1 when no window was mapped in time.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: map_watch PROGRAM [ARG...]\n");
    return 2;
  }
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection)) {
    std::fprintf(stderr, "map_watch: cannot open the display\n");
    return 2;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_void_cookie_t selected =
      xcb_change_window_attributes_checked(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
  if (xcb_generic_error_t* error = xcb_request_check(connection, selected)) {
    std::free(error);
    std::fprintf(stderr, "map_watch: cannot watch the root window\n");
    return 2;
  }

  const auto started = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, STDIN_FILENO);
    dup2(devnull, STDOUT_FILENO);
    execvp(argv[1], argv + 1);
    _exit(127);
  }

  int status = 1;
  pollfd watched{xcb_get_file_descriptor(connection), POLLIN, 0};
  while (true) {
    xcb_generic_event_t* event = xcb_poll_for_event(connection);
    if (event == nullptr) {
      if (poll(&watched, 1, 20000) <= 0) break;
      continue;
    }
    const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
    std::free(event);
    if (mapped) {
      const std::chrono::duration<double, std::milli> took =
          std::chrono::steady_clock::now() - started;
      std::printf("%.3f\n", took.count());
      status = 0;
      break;
    }
  }
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);
  xcb_disconnect(connection);
  return status;
}

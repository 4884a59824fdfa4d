/* zeblix-inventory's engine for programs: what the command does for the same options and paths,
 * its lines handed over one at a time instead of written.
 *
 *   #include <zeblix/inventory.h>
 *
 *   static int print(const char *line, size_t size, void *user) {
 *     fwrite(line, 1, size, stdout);           // one JSON object, then "\n"
 *     return 0;                                 // non-zero stops the run
 *   }
 *
 *   const char *args[] = {"--hash=sha256", "--empty", "/opt/acme"};
 *   struct zeblix_inventory *run;
 *   char why[256];
 *   if (zeblix_inventory_new(3, args, &run, why, sizeof why) != 0) fprintf(stderr, "%s\n", why);
 *   int status = zeblix_inventory_run(run, print, NULL);   // 0, or 1 when some paths failed
 *   zeblix_inventory_free(run);
 *
 * The arguments are the command's own: its long options and paths, in any order, with the same
 * names, values and defaults; what a program has no use for (--output, --progress, --quiet,
 * --help, --version, --version-key, and every format but JSON Lines) is refused. Lines come in
 * walk order, from the thread the engine writes on, each a whole JSON object as the command
 * prints it. Nothing is printed, no environment variable is read, and no signal is touched; a
 * file that looks packed is read in a process of its own, as by the command. Link with
 * -lzeblix-inventory (pkg-config zeblix-inventory).
 */
#ifndef ZEBLIX_INVENTORY_H
#define ZEBLIX_INVENTORY_H

#include <stddef.h>

#include "zeblix/zeblix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One run: its options, and while it runs, its state. */
struct zeblix_inventory;

/* Takes one line: `size` bytes at `line`, the last of them "\n". A non-zero return stops the run. */
typedef int (*zeblix_inventory_line_fn)(const char *line, size_t size, void *user);

/* Reads the arguments into a new run. 0, or EINVAL with `message` (at most `message_size` bytes,
 * NUL-terminated) saying what is wrong with them as the command would, or ENOMEM. */
ZEBLIX_API int zeblix_inventory_new(int argc, const char *const *argv,
                                    struct zeblix_inventory **run, char *message,
                                    size_t message_size);

/* Runs it, handing each line to `on_line`. Returns 0 when every path was read, 1 when some could
 * not be (their error lines told why), ECANCELED when cancelled or stopped by `on_line`, or an
 * errno when the list of --files-from cannot be opened. A run runs once. */
ZEBLIX_API int zeblix_inventory_run(struct zeblix_inventory *run, zeblix_inventory_line_fn on_line,
                                    void *user);

/* Ends a run under way from any thread: within a tenth of a second, whatever it is reading (a FIFO
 * with no writer, a device without end), no line comes any more, and zeblix_inventory_run returns
 * ECANCELED. */
ZEBLIX_API void zeblix_inventory_cancel(struct zeblix_inventory *run);

ZEBLIX_API void zeblix_inventory_free(struct zeblix_inventory *run);

#ifdef __cplusplus
}
#endif

#endif /* ZEBLIX_INVENTORY_H */

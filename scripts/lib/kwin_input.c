/* Pointer and key input for KWin under Wayland, through its fake-input protocol, for the
 * end-to-end tests: KWin's virtual backend reads no input device.
 *
 * kwin_input COMMAND...   with COMMAND one of: move X Y, click, right-click, key LINUX-KEYCODE,
 *                         sleep MS
 *
 * KWin grants the protocol only to a program whose desktop entry lists it in
 * X-KDE-Wayland-Interfaces. */
#include "fake-input-client-protocol.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

static struct org_kde_kwin_fake_input *input;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface, uint32_t version) {
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void global_remove(void *data, struct wl_registry *registry, uint32_t name) {
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener listener = {global, global_remove};

static void pause_ms(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}

int main(int argc, char **argv) {
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fputs("kwin_input: no Wayland display\n", stderr);
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, NULL);
    wl_display_roundtrip(display);
    if (!input) {
        fputs("kwin_input: the compositor offers no org_kde_kwin_fake_input (version 4)\n", stderr);
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(input, "quaystone tests", "drive the desktop");
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "move") == 0 && i + 2 < argc) {
            org_kde_kwin_fake_input_pointer_motion_absolute(input, wl_fixed_from_int(atoi(argv[i + 1])),
                                                            wl_fixed_from_int(atoi(argv[i + 2])));
            i += 2;
            // The surface under the pointer learns of it before a button goes down.
            wl_display_roundtrip(display);
            pause_ms(50);
        } else if (strcmp(argv[i], "click") == 0 || strcmp(argv[i], "right-click") == 0) {
            const uint32_t button = argv[i][0] == 'r' ? 0x111 /* BTN_RIGHT */ : 0x110 /* BTN_LEFT */;
            org_kde_kwin_fake_input_button(input, button, 1);
            wl_display_roundtrip(display);
            pause_ms(30);
            org_kde_kwin_fake_input_button(input, button, 0);
            wl_display_roundtrip(display);
        } else if (strcmp(argv[i], "key") == 0 && i + 1 < argc) {
            org_kde_kwin_fake_input_keyboard_key(input, (uint32_t)atoi(argv[i + 1]), 1);
            wl_display_roundtrip(display);
            pause_ms(30);
            org_kde_kwin_fake_input_keyboard_key(input, (uint32_t)atoi(argv[i + 1]), 0);
            ++i;
        } else if (strcmp(argv[i], "sleep") == 0 && i + 1 < argc) {
            wl_display_roundtrip(display);
            pause_ms(atol(argv[++i]));
        } else {
            fprintf(stderr, "kwin_input: cannot read '%s'\n", argv[i]);
            return 2;
        }
    }
    wl_display_roundtrip(display);
    org_kde_kwin_fake_input_destroy(input);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}

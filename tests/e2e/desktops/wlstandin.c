/* A stand-in for the client that starts the helper, on Wayland without a toolkit: one
 * full-screen xdg_toplevel, exported through xdg-foreign so that a test can hand its handle to
 * the helper as navigate's "parent_window". GTK 3 exports only through zxdg_exporter_v1, which
 * KWin does not offer; this exports through zxdg_exporter_v2 where the compositor offers it,
 * else v1.
 *
 * Usage: tavisk-wayland-standin TITLE      (built with the tests: build/tests/e2e/desktops/;
 *                                          the process tests find it in TAVISK_WAYLAND_STANDIN)
 * Runs until it is killed or the compositor closes its window. Reports on standard output, one
 * line each, the lines tests/e2e/desktops/standin.py writes:
 *
 *   handle wayland:<handle>   the exported handle; "handle none" when no exporter is offered
 *   fullscreen                the compositor made the window full-screen
 *   focus in | focus out      the keyboard came or went
 *   clicked                   a pointer button went down in it
 *   token <token>             the xdg-activation token it asked for with that click's serial,
 *                             as a client does before it hands a token to the helper
 *   key <code>                a key (Linux key code) reached it
 */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>

#include "xdg-activation-v1-client-protocol.h"
#include "xdg-foreign-unstable-v1-client-protocol.h"
#include "xdg-foreign-unstable-v2-client-protocol.h"
#include "xdg-shell-client-protocol.h"

struct standin {
    struct wl_compositor *compositor;
    struct wl_shm *shm;
    struct wl_seat *seat;
    struct xdg_wm_base *wm_base;
    struct zxdg_exporter_v2 *exporter_v2;
    struct zxdg_exporter_v1 *exporter_v1;
    struct xdg_activation_v1 *activation;
    struct wl_surface *surface;
    struct xdg_surface *xdg_surface;
    struct xdg_toplevel *toplevel;
    struct wl_buffer *buffer;
    int32_t width, height;       /* as the last configure asked; 0: ours to choose */
    int32_t buffer_width, buffer_height;
    int full_screen_said;
    int closed;
};

static void say(const char *line)
{
    printf("%s\n", line);
    fflush(stdout);
}

/* --- globals --- */

static void on_global(void *data, struct wl_registry *registry, uint32_t name,
                      const char *interface, uint32_t version)
{
    struct standin *s = data;
    (void)version;
    if (strcmp(interface, wl_compositor_interface.name) == 0)
        s->compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 1);
    else if (strcmp(interface, wl_shm_interface.name) == 0)
        s->shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
    else if (strcmp(interface, wl_seat_interface.name) == 0 && s->seat == NULL)
        s->seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, xdg_wm_base_interface.name) == 0)
        s->wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
    else if (strcmp(interface, zxdg_exporter_v2_interface.name) == 0)
        s->exporter_v2 = wl_registry_bind(registry, name, &zxdg_exporter_v2_interface, 1);
    else if (strcmp(interface, xdg_activation_v1_interface.name) == 0)
        s->activation = wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1);
    else if (strcmp(interface, zxdg_exporter_v1_interface.name) == 0)
        s->exporter_v1 = wl_registry_bind(registry, name, &zxdg_exporter_v1_interface, 1);
}

static void on_global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registry_listener = {on_global, on_global_remove};

/* --- input: only reported --- */

static void on_key_map(void *data, struct wl_keyboard *k, uint32_t format, int32_t fd,
                       uint32_t size)
{
    (void)data, (void)k, (void)format, (void)size;
    close(fd);
}

static void on_key_enter(void *data, struct wl_keyboard *k, uint32_t serial,
                         struct wl_surface *surface, struct wl_array *keys)
{
    (void)data, (void)k, (void)serial, (void)surface, (void)keys;
    say("focus in");
}

static void on_key_leave(void *data, struct wl_keyboard *k, uint32_t serial,
                         struct wl_surface *surface)
{
    (void)data, (void)k, (void)serial, (void)surface;
    say("focus out");
}

static void on_key(void *data, struct wl_keyboard *k, uint32_t serial, uint32_t time,
                   uint32_t key, uint32_t state)
{
    char line[32];
    (void)data, (void)k, (void)serial, (void)time;
    if (state == WL_KEYBOARD_KEY_STATE_PRESSED) {
        snprintf(line, sizeof line, "key %u", key);
        say(line);
    }
}

static void on_modifiers(void *data, struct wl_keyboard *k, uint32_t serial, uint32_t depressed,
                         uint32_t latched, uint32_t locked, uint32_t group)
{
    (void)data, (void)k, (void)serial, (void)depressed, (void)latched, (void)locked, (void)group;
}

/* Bound at version 1: the later events (repeat_info, pointer frames) never come. */
static const struct wl_keyboard_listener keyboard_listener = {
    .keymap = on_key_map,
    .enter = on_key_enter,
    .leave = on_key_leave,
    .key = on_key,
    .modifiers = on_modifiers,
};

static void on_pointer_enter(void *data, struct wl_pointer *p, uint32_t serial,
                             struct wl_surface *surface, wl_fixed_t x, wl_fixed_t y)
{
    (void)data, (void)p, (void)serial, (void)surface, (void)x, (void)y;
}

static void on_pointer_leave(void *data, struct wl_pointer *p, uint32_t serial,
                             struct wl_surface *surface)
{
    (void)data, (void)p, (void)serial, (void)surface;
}

static void on_motion(void *data, struct wl_pointer *p, uint32_t time, wl_fixed_t x, wl_fixed_t y)
{
    (void)data, (void)p, (void)time, (void)x, (void)y;
}

static void on_token(void *data, struct xdg_activation_token_v1 *token, const char *name)
{
    (void)data;
    printf("token %s\n", name);
    fflush(stdout);
    xdg_activation_token_v1_destroy(token);
}

static const struct xdg_activation_token_v1_listener token_listener = {.done = on_token};

static void on_button(void *data, struct wl_pointer *p, uint32_t serial, uint32_t time,
                      uint32_t button, uint32_t state)
{
    struct standin *s = data;
    (void)p, (void)time, (void)button;
    if (state != WL_POINTER_BUTTON_STATE_PRESSED)
        return;
    say("clicked");
    if (s->activation != NULL) {
        struct xdg_activation_token_v1 *token
            = xdg_activation_v1_get_activation_token(s->activation);
        xdg_activation_token_v1_add_listener(token, &token_listener, s);
        xdg_activation_token_v1_set_serial(token, serial, s->seat);
        xdg_activation_token_v1_set_surface(token, s->surface);
        xdg_activation_token_v1_commit(token);
    }
}

static void on_axis(void *data, struct wl_pointer *p, uint32_t time, uint32_t axis,
                    wl_fixed_t value)
{
    (void)data, (void)p, (void)time, (void)axis, (void)value;
}

static const struct wl_pointer_listener pointer_listener = {
    .enter = on_pointer_enter,
    .leave = on_pointer_leave,
    .motion = on_motion,
    .button = on_button,
    .axis = on_axis,
};

static void on_capabilities(void *data, struct wl_seat *seat, uint32_t capabilities)
{
    (void)data;
    if (capabilities & WL_SEAT_CAPABILITY_KEYBOARD)
        wl_keyboard_add_listener(wl_seat_get_keyboard(seat), &keyboard_listener, NULL);
    if (capabilities & WL_SEAT_CAPABILITY_POINTER)
        wl_pointer_add_listener(wl_seat_get_pointer(seat), &pointer_listener, data);
}

static const struct wl_seat_listener seat_listener = {.capabilities = on_capabilities};

/* --- the window --- */

/* A plain grey buffer of the configured size, in shared memory. */
static struct wl_buffer *grey_buffer(struct wl_shm *shm, int32_t width, int32_t height)
{
    const int32_t stride = width * 4;
    const size_t size = (size_t)stride * (size_t)height;
    int fd = memfd_create("tavisk-standin", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, (off_t)size) < 0) {
        perror("tavisk-wayland-standin: shared memory");
        exit(1);
    }
    void *pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        perror("tavisk-wayland-standin: mmap");
        exit(1);
    }
    memset(pixels, 0x60, size);
    munmap(pixels, size);
    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, (int32_t)size);
    struct wl_buffer *buffer
        = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

static void on_ping(void *data, struct xdg_wm_base *wm_base, uint32_t serial)
{
    (void)data;
    xdg_wm_base_pong(wm_base, serial);
}

static const struct xdg_wm_base_listener wm_base_listener = {on_ping};

static void on_surface_configure(void *data, struct xdg_surface *xdg_surface, uint32_t serial)
{
    struct standin *s = data;
    xdg_surface_ack_configure(xdg_surface, serial);
    const int32_t width = s->width > 0 ? s->width : 640;
    const int32_t height = s->height > 0 ? s->height : 480;
    if (s->buffer == NULL || width != s->buffer_width || height != s->buffer_height) {
        if (s->buffer != NULL)
            wl_buffer_destroy(s->buffer);
        s->buffer = grey_buffer(s->shm, width, height);
        s->buffer_width = width;
        s->buffer_height = height;
    }
    wl_surface_attach(s->surface, s->buffer, 0, 0);
    wl_surface_damage(s->surface, 0, 0, width, height);
    wl_surface_commit(s->surface);
}

static const struct xdg_surface_listener xdg_surface_listener = {on_surface_configure};

static void on_toplevel_configure(void *data, struct xdg_toplevel *toplevel, int32_t width,
                                  int32_t height, struct wl_array *states)
{
    struct standin *s = data;
    (void)toplevel;
    s->width = width;
    s->height = height;
    const uint32_t *state;
    wl_array_for_each(state, states)
    {
        if (*state == XDG_TOPLEVEL_STATE_FULLSCREEN && !s->full_screen_said) {
            s->full_screen_said = 1;
            say("fullscreen");
        }
    }
}

static void on_toplevel_close(void *data, struct xdg_toplevel *toplevel)
{
    struct standin *s = data;
    (void)toplevel;
    s->closed = 1;
}

/* Bound at version 1: configure_bounds and wm_capabilities never come. */
static const struct xdg_toplevel_listener toplevel_listener = {
    .configure = on_toplevel_configure,
    .close = on_toplevel_close,
};

/* --- the export --- */

static void say_handle(const char *handle)
{
    printf("handle wayland:%s\n", handle);
    fflush(stdout);
}

static void on_handle_v2(void *data, struct zxdg_exported_v2 *exported, const char *handle)
{
    (void)data, (void)exported;
    say_handle(handle);
}

static const struct zxdg_exported_v2_listener exported_v2_listener = {on_handle_v2};

static void on_handle_v1(void *data, struct zxdg_exported_v1 *exported, const char *handle)
{
    (void)data, (void)exported;
    say_handle(handle);
}

static const struct zxdg_exported_v1_listener exported_v1_listener = {on_handle_v1};

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s TITLE\n", argv[0]);
        return 64;
    }
    struct wl_display *display = wl_display_connect(NULL);
    if (display == NULL) {
        fprintf(stderr, "tavisk-wayland-standin: no Wayland display\n");
        return 1;
    }
    struct standin s = {0};
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, &s);
    wl_display_roundtrip(display);
    if (s.compositor == NULL || s.shm == NULL || s.wm_base == NULL) {
        fprintf(stderr, "tavisk-wayland-standin: no wl_compositor, wl_shm or xdg_wm_base\n");
        return 1;
    }
    xdg_wm_base_add_listener(s.wm_base, &wm_base_listener, &s);
    if (s.seat != NULL)
        wl_seat_add_listener(s.seat, &seat_listener, &s);

    s.surface = wl_compositor_create_surface(s.compositor);
    s.xdg_surface = xdg_wm_base_get_xdg_surface(s.wm_base, s.surface);
    xdg_surface_add_listener(s.xdg_surface, &xdg_surface_listener, &s);
    s.toplevel = xdg_surface_get_toplevel(s.xdg_surface);
    xdg_toplevel_add_listener(s.toplevel, &toplevel_listener, &s);
    xdg_toplevel_set_title(s.toplevel, argv[1]);
    xdg_toplevel_set_app_id(s.toplevel, "tavisk-wayland-standin");
    xdg_toplevel_set_fullscreen(s.toplevel, NULL);
    wl_surface_commit(s.surface);

    /* Exported once the surface is a toplevel: v2 refuses any other surface. */
    if (s.exporter_v2 != NULL)
        zxdg_exported_v2_add_listener(zxdg_exporter_v2_export_toplevel(s.exporter_v2, s.surface),
                                      &exported_v2_listener, &s);
    else if (s.exporter_v1 != NULL)
        zxdg_exported_v1_add_listener(zxdg_exporter_v1_export(s.exporter_v1, s.surface),
                                      &exported_v1_listener, &s);
    else
        say("handle none");

    while (!s.closed && wl_display_dispatch(display) >= 0) {
    }
    wl_display_disconnect(display);
    return 0;
}

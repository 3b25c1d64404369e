"""The Debian packages as a user gets them: unpacked with dpkg-deb into a private root, the
packaged client runs a whole sign-in with the packaged helper beside it (the demo provider's
page signs in by itself, under Xvfb), and a C program builds against the -dev package through
pkg-config and through CMake, then signs in through the packaged library.

Run by scripts/test.sh after scripts/package.sh, with TAVISK_PACKAGES naming the folder of the
.deb files and PYTHONPATH=tests/e2e/lib:tests/e2e/client (the shared modules, and the client
tests whose runs it reuses); the packages must exist, so this is not a CTest test of the build
tree."""

import glob
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse

import pageserver
import testenv
import xvfb
from test_client import Run
from test_demo_provider import Provider

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT_DIR = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
EXAMPLE = os.path.join(ROOT_DIR, "clientlib", "examples", "signin.c")
REDIRECT_URI = "ms-appx-web://demo.example/signed-in"
COMMAND_TIMEOUT = 120


def packages():
    folder = os.environ.get("TAVISK_PACKAGES", os.path.join(ROOT_DIR, "build", "packages"))
    found = {os.path.basename(p).split("_")[0]: p for p in glob.glob(folder + "/*.deb")}
    expected = {"corvane-tavisk", "libcorvane-tavisk-client1", "libcorvane-tavisk-client-dev"}
    if set(found) != expected:
        raise AssertionError("%s holds %s, not %s" % (folder, sorted(found), sorted(expected)))
    return found


def check_output(args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, text=True,
                          timeout=COMMAND_TIMEOUT, **kwargs).stdout


class UnpackedPackagesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.debs = packages()
        cls.root = tempfile.mkdtemp(prefix="tavisk-deb-root-")
        cls.addClassCleanup(shutil.rmtree, cls.root, True)
        for deb in cls.debs.values():
            check_output(["dpkg-deb", "-x", deb, cls.root])
        multiarch = check_output(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"]).strip()
        cls.libdir = os.path.join(cls.root, "usr", "lib", multiarch)
        cls.bindir = os.path.join(cls.root, "usr", "bin")
        cls.xserver = xvfb.XServer().__enter__()
        cls.addClassCleanup(cls.xserver.__exit__, None, None, None)

    def field(self, package, name):
        return check_output(["dpkg-deb", "-f", self.debs[package], name]).strip()

    def test_dependencies_are_the_real_ones(self):
        depends = self.field("corvane-tavisk", "Depends")
        # Debian 13 names some of these with a "t64" suffix (its 64-bit time_t transition).
        for library in ["libqt6core6", "libqt6webenginecore6", "libqt6webenginewidgets6",
                        "libqt6widgets6", "libc6", "libstdc++6"]:
            self.assertRegex(depends, r"(^|, )%s(t64)? \(>= " % re.escape(library))
        # Kerberos single sign-on needs the GSSAPI library the engine loads by name.
        self.assertIn("libgssapi-krb5-2", self.field("corvane-tavisk", "Recommends"))
        # What the helper reads as files: Qt's translations and the public suffix list.
        for package in ["qt6-translations-l10n", "publicsuffix", "p11-kit-modules"]:
            self.assertIn(package, depends.replace(",", " ").split())
        # The client carries the library inside: the helper's package stands alone.
        self.assertNotIn("libcorvane-tavisk-client", depends)
        self.assertNotIn("qt", self.field("libcorvane-tavisk-client1", "Depends"))
        self.assertEqual(self.field("libcorvane-tavisk-client-dev", "Depends"),
                         "libcorvane-tavisk-client1 (= %s)"
                         % self.field("libcorvane-tavisk-client1", "Version"))

    def test_helper_translations_are_installed_where_the_helper_looks(self):
        # Beside the binary's folder, as src/app/translations.cpp looks for them.
        self.assertTrue(os.path.isfile(os.path.join(
            self.bindir, "..", "share", "corvane-tavisk", "translations", "corvane-tavisk_de.qm")))

    def test_symbols_file_lists_exactly_what_the_library_exports(self):
        control = tempfile.mkdtemp(prefix="tavisk-deb-control-")
        self.addCleanup(shutil.rmtree, control, True)
        check_output(["dpkg-deb", "-e", self.debs["libcorvane-tavisk-client1"], control])
        with open(os.path.join(control, "symbols")) as f:
            listed = {line.split("@")[0].strip() for line in f if line.startswith(" ")}
        dynamic = check_output(["objdump", "-T", os.path.join(
            self.libdir, "libcorvane-tavisk-client.so.1")]).splitlines()
        exported = {line.split()[-1] for line in dynamic
                    if " g " in line and " .text" in line}
        self.assertEqual(listed, exported)
        self.assertTrue(all(name.startswith("tavisk_") for name in exported), exported)

    def test_packaged_client_signs_in_with_the_packaged_helper(self):
        provider = Provider("--auto-submit", "--auto-submit-delay-ms", "300")
        self.addCleanup(provider.stop)
        url = provider.authorize + "?" + urllib.parse.urlencode(
            {"redirect_uri": REDIRECT_URI, "state": "deb"})
        # No --helper: the client finds the corvane-tavisk unpacked beside it.
        env = testenv.base_env(display=self.xserver.display)
        env["PATH"] = "/usr/bin:/bin"
        run = Run(["--url", url, "--redirect-uri", REDIRECT_URI, "--timeout-ms", "60000"],
                  env=env, executable=os.path.join(self.bindir, "corvane-tavisk-client"))
        self.assertEqual(run.status, 0, run)
        self.assertRegex(run.stdout, r"^ms-appx-web://demo\.example/signed-in\?code=[\w-]+&state=deb\n$")
        self.assertFalse(run.leftovers)

    def build_with_pkg_config(self, folder):
        # The file says /usr, as installed; the sysroot puts the unpacked root before that.
        env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(self.libdir, "pkgconfig"),
                   PKG_CONFIG_SYSROOT_DIR=self.root)
        flags = check_output(["pkg-config", "--cflags", "--libs", "corvane-tavisk-client"],
                             env=env).split()
        program = os.path.join(folder, "signin-pkg-config")
        check_output(["cc", "-std=c99", "-Wall", "-Wextra", "-Wpedantic", "-Werror", EXAMPLE,
                      "-o", program] + flags)
        return program

    def build_with_cmake(self, folder):
        source = os.path.join(folder, "source")
        os.mkdir(source)
        with open(os.path.join(source, "CMakeLists.txt"), "w") as f:
            f.write("cmake_minimum_required(VERSION 3.21)\n"
                    "project(signin LANGUAGES C)\n"
                    "find_package(CorvaneTaviskClient 1.0 REQUIRED)\n"
                    "add_executable(signin-cmake %s)\n"
                    "target_link_libraries(signin-cmake PRIVATE CorvaneTavisk::Client)\n"
                    % EXAMPLE)
        build = os.path.join(folder, "build")
        check_output(["cmake", "-S", source, "-B", build, "-G", "Ninja",
                      "-DCMAKE_PREFIX_PATH=" + os.path.join(self.root, "usr"),
                      "-DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=BOTH"])
        check_output(["cmake", "--build", build])
        return os.path.join(build, "signin-cmake")

    def test_programs_built_against_the_dev_package_sign_in(self):
        folder = tempfile.mkdtemp(prefix="tavisk-deb-dev-")
        self.addCleanup(shutil.rmtree, folder, True)
        pages = pageserver.PageServer({"/signin": ("redirect", REDIRECT_URI + "?code=lib")})
        pages.__enter__()
        self.addCleanup(pages.__exit__, None, None, None)
        env = testenv.base_env(display=self.xserver.display)
        # The packaged library from the unpacked root, the packaged helper found on PATH.
        env["LD_LIBRARY_PATH"] = self.libdir
        env["PATH"] = self.bindir + ":/usr/bin:/bin"
        for name, build in [("pkg-config", self.build_with_pkg_config),
                            ("CMake", self.build_with_cmake)]:
            with self.subTest(name):
                program = build(folder)
                libraries = check_output(["ldd", program], env=env)
                self.assertIn(os.path.join(self.libdir, "libcorvane-tavisk-client.so.1"),
                              libraries)
                run = Run([pages.url("/signin"), REDIRECT_URI], env=env, executable=program)
                self.assertEqual((run.status, run.stdout), (0, REDIRECT_URI + "?code=lib\n"),
                                 run)
                self.assertFalse(run.leftovers)


if __name__ == "__main__":
    unittest.main()

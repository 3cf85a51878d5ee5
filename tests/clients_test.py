"""Whole game clients: the launcher's update run (testprograms/updaterun.exe,
the launcher's own code) over 100,000 listed files in 1,000 folders, with the
tests' web server as the site. The first start, with no record of verified
files, fetches exactly the files missing; the second fetches and hashes
nothing; a file changed on disk is found and fetched again. The client lives
in memory (/dev/shm): a disk takes a minute to make 100,000 files."""
import hashlib
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from launcher import BUILD, Site, session, winenv  # noqa: E402

UPDATERUN = os.path.join(BUILD, "testprograms", "updaterun.exe")
FILES, FOLDERS = 100000, 1000
UPDATED = "Jogo atualizado! Pronto para jogar."
CURRENT = "Seu jogo está atualizado. Pronto para jogar."


def name(i):
    return "pasta%03d/arquivo%06d.bin" % (i % FOLDERS, i)


def content(i):
    return b"%d" % (i * 7919)


class WholeClient(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="velmora-clients-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def run_update(self, env, site):
        """One update run: its last text, the files it hashed, and the files it
        asked the site for."""
        before = len(site.paths())
        t0 = time.time()
        rc, out, err = winenv.output(env, UPDATERUN, winenv.win_path(self.game), site.url, timeout=300)
        self.assertEqual(rc, 0, err)
        got = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        print("update run: %.1f s, %s" % (time.time() - t0, got), flush=True)
        asked = [p[len("/update/files/"):] for p in site.paths()[before:] if p.startswith("/update/files/")]
        return got["status"], int(got["hashed"]), sorted(asked)

    def test_a_client_of_100000_files(self):
        self.game, root = os.path.join(self.tmp, "jogo"), os.path.join(self.tmp, "site")
        files = os.path.join(root, "update", "files")
        for f in range(FOLDERS):
            os.makedirs(os.path.join(files, "pasta%03d" % f))
            os.makedirs(os.path.join(self.game, "pasta%03d" % f))
        lines, missing = [], []
        for i in range(FILES):
            data = content(i)
            with open(os.path.join(files, name(i)), "wb") as out:
                out.write(data)
            lines.append("%s|%s|%d\n" % (name(i), hashlib.md5(data).hexdigest(), len(data)))
            if i % 97 == 5:
                missing.append(name(i))
                continue
            with open(os.path.join(self.game, name(i)), "wb") as out:
                out.write(data)
        with open(os.path.join(root, "update", "lista.txt"), "w") as out:
            out.writelines(lines)
        # Written well before the launcher starts, as a player's files are.
        old = os.path.getmtime(root) - 3600
        for d, _, names in os.walk(self.game):
            for n in names:
                os.utime(os.path.join(d, n), (old, old))

        with session("clients") as env, Site(env, root) as site:
            status, hashed, asked = self.run_update(env, site)
            self.assertEqual(status, UPDATED)
            self.assertEqual(asked, sorted(missing), "the first start fetches exactly the missing files")
            self.assertEqual(hashed, FILES - len(missing))

            status, hashed, asked = self.run_update(env, site)
            self.assertEqual((status, hashed, asked), (CURRENT, 0, []), "the second start reads nothing")

            changed = name(FILES // 2 + 1)
            with open(os.path.join(self.game, changed), "ab") as out:
                out.write(b"!")
            status, hashed, asked = self.run_update(env, site)
            self.assertEqual((status, hashed, asked), (UPDATED, 1, [changed]), "a changed file is found")

    def test_a_folder_of_the_players_with_more_names_than_a_start_keeps_ahead(self):
        """The folders the last manifest named are listed from the start of a
        run, their names kept until the new manifest is in; a folder where the
        player keeps 16,000 files of long names of their own (about 8 MB of
        names) does not fit, and is listed again: nothing is read or fetched,
        and a changed file in it is still found."""
        self.game, root = os.path.join(self.tmp, "jogo"), os.path.join(self.tmp, "site")
        junk = os.path.join(self.game, "lixo")
        os.makedirs(junk)
        for i in range(16000):
            open(os.path.join(junk, "%05d" % i + "x" * 235), "wb").close()
        names = ["lixo/%02d.bin" % i for i in range(20)] + ["%02d.bin" % i for i in range(20)]
        lines = []
        for n in names:
            data = n.encode() * 3
            for folder in (os.path.join(root, "update", "files"), self.game):
                os.makedirs(os.path.dirname(os.path.join(folder, n)), exist_ok=True)
                with open(os.path.join(folder, n), "wb") as out:
                    out.write(data)
            lines.append("%s|%s|%d\n" % (n, hashlib.md5(data).hexdigest(), len(data)))
        with open(os.path.join(root, "update", "lista.txt"), "w") as out:
            out.writelines(lines)
        old = os.path.getmtime(root) - 3600
        for n in names:
            os.utime(os.path.join(self.game, n), (old, old))

        with session("clients-ahead") as env, Site(env, root) as site:
            self.assertEqual(self.run_update(env, site), (CURRENT, len(names), []))
            self.assertEqual(self.run_update(env, site), (CURRENT, 0, []), "nothing is read or fetched")
            with open(os.path.join(self.game, "lixo", "07.bin"), "ab") as out:
                out.write(b"!")
            self.assertEqual(self.run_update(env, site), (UPDATED, 1, ["lixo/07.bin"]), "a changed file is found")

    def test_a_folder_linked_to_another_volume(self):
        """A game folder whose data is a link to another drive, among plain
        folders: the files the launcher places there are known by that
        drive's identity, those beside it by their own, so the next start
        reads nothing."""
        self.game, root = os.path.join(self.tmp, "jogo"), os.path.join(self.tmp, "site")
        other = tempfile.mkdtemp(prefix="velmora-other-volume-", dir=BUILD)
        self.addCleanup(shutil.rmtree, other, True)
        if os.stat(other).st_dev == os.stat(self.tmp).st_dev:
            self.skipTest("no second volume here: %s and %s share one" % (other, self.tmp))
        os.makedirs(self.game)
        os.symlink(other, os.path.join(self.game, "dados"))
        # Listed on two threads, each taking the next folder as it is done:
        # with many before and after it, the thread that lists the link lists
        # plain folders too.
        folders = ["x%02d" % i for i in range(20)] + ["dados"] + ["y%02d" % i for i in range(50)]
        names = ["a.bin", "dados/b.bin"] + [f + "/c.bin" for f in folders]
        os.makedirs(os.path.join(root, "update", "files"))
        with open(os.path.join(root, "update", "lista.txt"), "w") as out:
            for n in names:
                os.makedirs(os.path.dirname(os.path.join(root, "update", "files", n)), exist_ok=True)
                with open(os.path.join(root, "update", "files", n), "wb") as f:
                    f.write(n.encode())
                out.write("%s|%s|%d\n" % (n, hashlib.md5(n.encode()).hexdigest(), len(n)))

        with session("clients-linked") as env, Site(env, root) as site:
            self.assertEqual(self.run_update(env, site), (UPDATED, 0, sorted(names)))
            self.assertEqual(sorted(os.listdir(other)), ["b.bin", "c.bin"])
            self.assertEqual(self.run_update(env, site), (CURRENT, 0, []), "nothing is read or fetched")


if __name__ == "__main__":
    unittest.main(verbosity=2)

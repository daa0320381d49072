"""The example controller's failure paths, against stand-in agents."""
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

HERE = pathlib.Path(__file__).resolve().parent
CONTROLLER = HERE.parents[1] / "examples" / "controller.py"
STAND_IN = HERE / "stand_in_agent.py"


class ControllerTest(unittest.TestCase):
    def run_controller(self, behaviour, seconds="0"):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.mark = pathlib.Path(folder.name) / "input-closed"
        env = dict(os.environ, STAND_IN=behaviour, STAND_IN_MARK=str(self.mark))
        return subprocess.run([sys.executable, str(CONTROLLER), str(STAND_IN), folder.name, "0", seconds],
                              env=env, capture_output=True, text=True, timeout=60)

    def test_non_fatal_errors_do_not_end_the_start(self):
        run = self.run_controller("nonfatal")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("going on without sound", run.stderr)
        self.assertIn("tries its next encoder", run.stderr)
        self.assertIn("skipped a line that is not JSON", run.stderr)
        self.assertIn('"event": "bye"', run.stdout)

    def test_a_dead_agent_is_reported_with_its_code_and_diagnostics(self):
        # The controller's next command finds the agent gone.
        run = self.run_controller("dies", seconds="0.5")
        self.assertEqual(run.returncode, 1)
        self.assertNotIn("Traceback", run.stderr)
        self.assertIn("exit code 70", run.stderr)
        self.assertIn("agent: stand-in: erreur de segmentation simulée", run.stderr)

    def test_a_failed_start_ends_the_agent_through_its_input(self):
        run = self.run_controller("refuses")
        self.assertEqual(run.returncode, 1)
        self.assertIn("the start failed: aucune source d'image disponible", run.stderr)
        self.assertIn("exit code 0", run.stderr)
        self.assertTrue(self.mark.exists(), "the agent was not left to end by itself")

    def test_list_prints_the_agents_own_values_and_reports_its_failure(self):
        def run(behaviour):
            return subprocess.run([sys.executable, str(CONTROLLER), "--list", str(STAND_IN)],
                                  env=dict(os.environ, STAND_IN=behaviour), capture_output=True,
                                  text=True, encoding="utf-8", timeout=60)
        listed = run("nonfatal")
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertIn('monitor "\\\\\\\\.\\\\DISPLAY1"  Écran 1', listed.stdout)
        self.assertIn('window  "Jeu:GameWindow:jeu.exe"  [jeu.exe]: Jeu', listed.stdout)
        failed = run("nolist")
        self.assertEqual(failed.returncode, 1)
        self.assertIn("kalto-obs --list ended with code 3: libobs ne démarre pas", failed.stderr)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/python3
"""inspect.py on compiled stand-ins, raw exports and broken files: which
stage each fits, the reason given for the others, and the exit code."""
import os
import subprocess
import sys
import tempfile
import unittest

import onnx

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools", "model_compiler")
sys.path.insert(0, HERE)
# appended: the folder's inspect.py must not hide the standard module
sys.path.append(TOOLS)
import adapters_test as ref  # noqa: E402
import standins  # noqa: E402

STAGES = ("plate detector", "corner model", "text detector", "text recogniser")


class Inspect(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="pb_test_inspect_")
        cls.dir = cls.tmp.name
        with open(cls.path("keys10.txt"), "w") as f:
            f.write("".join("%d\n" % i for i in range(10)))
        with open(cls.path("keys9.txt"), "w") as f:
            f.write("".join("%d\n" % i for i in range(9)))
        compiled = {"det": (standins.yolo("detect", 1, "v8", 12, size=(320, 256))[0], ["--yolo-detect"]),
                    "pose": (standins.yolo("pose", 1, "v8", 12, size=(256, 128))[0], ["--yolo-pose-corners"]),
                    "pose320": (standins.yolo("pose", 1, "v8", 12, size=(320, 320))[0],
                                ["--input-size", "320x320", "--unit-range"]),
                    "textdet": (standins.ppocr_det(11)[0], ["--ppocr-det"]),
                    "rec": (standins.ppocr_rec(12, 11)[0], ["--ppocr-rec"]),
                    "det_no_adapter": (standins.yolo("detect", 1, "v8", 12, size=(320, 320))[0],
                                       ["--input-size", "320x320", "--unit-range"])}
        for name, (model, args) in compiled.items():
            onnx.save(model, cls.path(name + ".onnx"))
            err, _ = ref.compile_quiet(cls.path(name + ".onnx"), cls.path(name + ".rknn"), args)
            assert err is None, err
        raw = standins.yolo("detect", 1, "v8", 12, "none", size=(320, 320))[0]
        onnx.save(raw, cls.path("raw_det.onnx"))
        onnx.save(standins.ppocr_det(11, "all")[0], cls.path("open_det.onnx"))
        with open(cls.path("junk.rknn"), "wb") as f:
            f.write(b"\x00not a model")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def path(cls, name):
        return os.path.join(cls.dir, name)

    def inspect(self, model, *extra):
        run = subprocess.run([sys.executable, os.path.join(TOOLS, "inspect.py"), self.path(model)] +
                             [self.path(e) if e.endswith(".txt") else e for e in extra],
                             capture_output=True, text=True)
        return run.returncode, run.stdout

    def test_stage_verdicts(self):
        # model, extra arguments, exit code, stage it fits (or None), a reason printed for another stage
        cases = [
            ("det.rknn", [], 0, "plate detector", "input 320x256; output 0: 100 rows, score second"),
            ("pose.rknn", [], 0, "corner model", "no       text detector (--ppocr-det-model): the stage feeds "
                                                 "640x640 RGB pictures, input 0 is [1,3,128,256]"),
            ("pose320.rknn", [], 1, None, "needs [1,3,128,256]); cornercheck alone can run it, given the "
                                          "input size 320 320"),
            ("textdet.rknn", [], 0, "text detector", "read as a 640x640 map"),
            ("rec.rknn", ["--dict", "keys10.txt"], 0, "text recogniser",
             "40 steps x 12 classes; dictionary of 11 entries (or 10, platebench appending the space); "
             "the given dictionary (10) fits once platebench appends the space"),
            ("rec.rknn", ["--dict", "keys9.txt"], 1, None, "the given dictionary has 9 entries"),
            ("det_no_adapter.rknn", [], 1, None,
             "output 0 is [1,5,2100]: platebench would cut it into 1750 rows of six"),
        ]
        for model, extra, code, fits, reason in cases:
            with self.subTest(model=model, extra=extra):
                rc, out = self.inspect(model, *extra)
                self.assertEqual(rc, code, out)
                for stage in STAGES:
                    verdict = "fits" if stage == fits else "no"
                    self.assertRegex(out, r"(?m)^%s +%s \(" % (verdict, stage))
                self.assertIn(reason, out)

    def test_runtime_view_of_the_tensors(self):
        rc, out = self.inspect("det.rknn")
        self.assertIn("  input[0] name=images dims=[1,3,256,320]\n"
                      "  output[0] name=rows dims=[1,100,6] elems=600\n", out)
        self.assertIn("cornercheck: Loaded RKNN: %s input=320x256 nhwc=0 outputs=1\n" % self.path("det.rknn"), out)

    def test_models_the_runtime_refuses(self):
        cases = [("open_det.onnx", "input x has the open dimension 2 (height); compile it to a fixed size"),
                 # its strides broadcast as OpenCV 4.6 cannot until compile.py spells them out
                 ("raw_det.onnx", "OpenCV cannot run it: "),
                 ("junk.rknn", "not an ONNX model")]
        for model, message in cases:
            with self.subTest(model=model):
                rc, out = self.inspect(model)
                self.assertEqual(rc, 2)
                self.assertIn("the runtime refuses this model: ", out)
                self.assertIn(message, out)


if __name__ == "__main__":
    unittest.main()

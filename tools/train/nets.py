"""Small networks for the four plate models, built from layers that OpenCV's
dnn imports well: plain convolutions, batch-norm, ReLU, pooling."""
import torch
import torch.nn as nn


def conv_bn(cin, cout, k=3, stride=1, pad=None, dilation=1):
    if pad is None:
        kh, kw = k if isinstance(k, tuple) else (k, k)
        dh, dw = dilation if isinstance(dilation, tuple) else (dilation, dilation)
        pad = (kh // 2 * dh, kw // 2 * dw)
    return nn.Sequential(nn.Conv2d(cin, cout, k, stride, pad, dilation=dilation, bias=False),
                         nn.BatchNorm2d(cout), nn.ReLU(inplace=True))


class Recognizer(nn.Module):
    """48x320 text line -> (1, T, C) CTC class scores, T = 40 or 80.  The height is
    reduced to one row by strided convolutions; a few 1x3 convolutions give
    horizontal context instead of a recurrent layer.

    With 80 steps the third stride keeps the width (80 columns from there on) and the later
    convolutions look two columns apart, so every weight has the shape it has at 40 steps and a
    40-step model's weights give the same scores at the even steps: the odd steps see the plate
    half a step further on, room for a blank between two narrow equal digits."""

    def __init__(self, num_classes, width=1.0, steps=40):
        super().__init__()
        if steps not in (40, 80):
            raise ValueError("a recogniser has 40 or 80 steps, not %r" % steps)
        self.steps = steps
        d = (1, steps // 40)
        c = [int(v * width) for v in (24, 48, 80, 112, 160)]
        self.body = nn.Sequential(
            conv_bn(3, c[0], 3, 2),               # 24x160
            conv_bn(c[0], c[1], 3, 2),            # 12x80
            conv_bn(c[1], c[1], 3, 1),
            conv_bn(c[1], c[2], 3, (2, 2 if steps == 40 else 1)),  # 6x40 (6x80)
            conv_bn(c[2], c[2], 3, 1, dilation=d),
            conv_bn(c[2], c[3], 3, (2, 1), dilation=d),       # 3xT
            conv_bn(c[3], c[4], (3, 1), 1, (0, 0)),  # 1xT
            conv_bn(c[4], c[4], (1, 3), 1, dilation=d),
            conv_bn(c[4], c[4], (1, 3), 1, dilation=d),
        )
        self.head = nn.Conv2d(c[4], num_classes, 1)

    def forward(self, x):
        x = self.body(x * (1.0 / 255.0))
        x = self.head(x)                       # N, C, 1, T
        return x.squeeze(2).permute(0, 2, 1)   # N, T, C


def widen_recognizer(state, width, seed=0):
    """State of a Recognizer `width` times as wide that computes the same
    function as `state` (Net2Net): each new channel copies a random old one,
    and the next layer splits that channel's weight among its copies. A little
    noise on the copies lets them drift apart in training."""
    g = torch.Generator().manual_seed(seed)
    old = Recognizer(state["head.weight"].shape[0])
    old.load_state_dict(state)
    new = Recognizer(state["head.weight"].shape[0], width)
    convs_old = [m[0] for m in old.body] + [old.head]
    convs_new = [m[0] for m in new.body] + [new.head]
    bns_old = [m[1] for m in old.body]
    bns_new = [m[1] for m in new.body]
    mapping = torch.arange(3)  # input channels of the first layer stay as they are
    with torch.no_grad():
        for i, (co, cn) in enumerate(zip(convs_old, convs_new)):
            counts = torch.bincount(mapping, minlength=co.weight.shape[1]).float()
            w_in = co.weight[:, mapping] / counts[mapping].view(1, -1, 1, 1)
            n_out, n_old = cn.weight.shape[0], co.weight.shape[0]
            if i == len(convs_old) - 1:  # the class scores keep their order
                out_map = torch.arange(n_out)
            else:
                out_map = torch.cat([torch.arange(n_old), torch.randint(0, n_old, (n_out - n_old,), generator=g)])
            w = w_in[out_map].clone()
            w[n_old:] += torch.randn(w[n_old:].shape, generator=g) * w[n_old:].std() * 0.01
            cn.weight.copy_(w)
            if co.bias is not None:
                cn.bias.copy_(co.bias[out_map])
            if i < len(bns_old):
                bo, bn = bns_old[i], bns_new[i]
                for name in ("weight", "bias", "running_mean", "running_var"):
                    getattr(bn, name).copy_(getattr(bo, name)[out_map])
            mapping = out_map
    return new.state_dict()


def conv_bn_pairs(model):
    """(convolution, batch-norm) of every conv_bn block, in the order the export writes them."""
    return [(m[0], m[1]) for m in model.modules()
            if isinstance(m, nn.Sequential) and len(m) == 3 and isinstance(m[0], nn.Conv2d)
            and isinstance(m[1], nn.BatchNorm2d)]


def _compiled_convs(path):
    import onnx
    from onnx import numpy_helper
    graph = onnx.load(path).graph
    values = {t.name: numpy_helper.to_array(t) for t in graph.initializer}
    return values, [n for n in graph.node if n.op_type == "Conv"]


def _load_compiled(model, layers, values, convs, path):
    """Copies the compiled convolutions into layers ((conv, batch-norm or None) in graph order). Export folds
    each batch-norm into the convolution before it, so the batch-norms come back as identities that only add
    the folded bias; their statistics are unknown until `recalibrate_batchnorm` measures them."""
    name = type(model).__name__
    if len(convs) != len(layers):
        raise SystemExit("%s: %d convolutions, a %s has %d" % (path, len(convs), name, len(layers)))
    with torch.no_grad():
        for node, (conv, bn) in zip(convs, layers):
            w = torch.from_numpy(values[node.input[1]].copy())
            b = torch.from_numpy(values[node.input[2]].copy())
            if w.shape != conv.weight.shape:
                raise SystemExit("%s: weight %s where a %s has %s" % (path, tuple(w.shape), name,
                                                                      tuple(conv.weight.shape)))
            conv.weight.copy_(w)
            if bn is None:
                conv.bias.copy_(b)
                continue
            bn.weight.fill_(1.0)
            bn.bias.copy_(b)
            bn.running_mean.zero_()
            bn.running_var.fill_(1.0 - bn.eps)
    return model


def compiled_steps(convs):
    """40 or 80: an 80-step recogniser is the one whose convolutions look two columns apart."""
    for node in convs:
        for a in node.attribute:
            if a.name == "dilations" and any(v > 1 for v in a.ints):
                return 80
    return 40


def recognizer_from_compiled(path, num_classes, steps=None):
    """A Recognizer holding a compiled model's weights (batch-norms as identities, see _load_compiled),
    with the compiled model's steps or `steps` (a 40-step model loads as an 80-step one, see Recognizer)."""
    values, convs = _compiled_convs(path)
    # a widened recogniser is recognised by its first layer's channel count
    width = values[convs[0].input[1]].shape[0] / 24.0 if convs else 1.0
    model = Recognizer(num_classes, width, steps or compiled_steps(convs))
    layers = [(m[0], m[1]) for m in model.body] + [(model.head, None)]
    return _load_compiled(model, layers, values, convs, path)


def detector_from_compiled(path, size=320):
    """A PlateDetector holding a compiled detector's weights (batch-norms as identities, see _load_compiled)."""
    values, convs = _compiled_convs(path)
    model = PlateDetector(size)
    layers = conv_bn_pairs(model) + [(model.head[1], None)]
    return _load_compiled(model, layers, values, convs, path)


def corner_from_compiled(path):
    """A CornerNet holding a compiled corner model's weights (batch-norms as identities, see _load_compiled)."""
    values, convs = _compiled_convs(path)
    model = CornerNet()
    layers = conv_bn_pairs(model) + [(model.f2[1], None)]
    return _load_compiled(model, layers, values, convs, path)


def recalibrate_batchnorm(model, batches):
    """Gives the identity batch-norms of `*_from_compiled` the mean and variance of their input
    over `batches`, with scale and shift chosen so that the model computes exactly what it did: training
    then normalises by batch statistics as it would have from the original checkpoint."""
    pairs = conv_bn_pairs(model)
    sums = [None] * len(pairs)
    hooks = []

    def hook(i):
        def record(_module, _inp, out):
            x = out.detach().double().transpose(0, 1).reshape(out.shape[1], -1)
            acc = (x.sum(1), (x * x).sum(1), x.shape[1])
            sums[i] = acc if sums[i] is None else tuple(a + b for a, b in zip(sums[i], acc))
        return record

    for i, (conv, _) in enumerate(pairs):
        hooks.append(conv.register_forward_hook(hook(i)))
    model.eval()
    with torch.no_grad():
        for x in batches:
            model(x)
    for h in hooks:
        h.remove()
    with torch.no_grad():
        for (conv, bn), (s1, s2, n) in zip(pairs, sums):
            mean = s1 / n
            var = (s2 / n - mean * mean).clamp(min=1e-8)
            bias = bn.bias.double().clone()
            bn.running_mean.copy_(mean.float())
            bn.running_var.copy_(var.float())
            bn.weight.copy_(torch.sqrt(var + bn.eps).float())
            bn.bias.copy_((mean + bias).float())
    model.train()


class CornerNet(nn.Module):
    """128x256 plate ROI -> 8 values: tl, tr, br, bl as (x, y) fractions.
    One heat map per corner on a 32x64 grid; the soft arg-max (softmax over
    the cells, then the expected cell centre) gives sub-cell positions and
    exports as Reshape, Softmax and MatMul, which OpenCV's dnn imports."""

    def __init__(self, grid_h=32, grid_w=64):
        super().__init__()
        self.s2 = nn.Sequential(conv_bn(3, 16, 3, 2), conv_bn(16, 32, 3, 2))                         # 32x64
        self.s3 = nn.Sequential(conv_bn(32, 64, 3, 2), conv_bn(64, 64, 3, 1))                        # 16x32
        self.s4 = nn.Sequential(conv_bn(64, 96, 3, 2), conv_bn(96, 96, 3, 1), conv_bn(96, 96, 3, 1))  # 8x16
        self.s5 = nn.Sequential(conv_bn(96, 128, 3, 2), conv_bn(128, 128, 3, 1))                     # 4x8
        self.up = nn.Upsample(scale_factor=2, mode="nearest")
        self.f4 = nn.Sequential(conv_bn(96 + 128, 64, 1, 1), conv_bn(64, 64, 3, 1))
        self.f3 = nn.Sequential(conv_bn(64 + 64, 32, 1, 1), conv_bn(32, 32, 3, 1))
        self.f2 = nn.Sequential(conv_bn(32 + 32, 16, 1, 1), nn.Conv2d(16, 4, 3, 1, 1))
        gy, gx = torch.meshgrid((torch.arange(grid_h, dtype=torch.float32) + 0.5) / grid_h,
                                (torch.arange(grid_w, dtype=torch.float32) + 0.5) / grid_w, indexing="ij")
        self.register_buffer("grid", torch.stack([gx.reshape(-1), gy.reshape(-1)], 1))  # cells, 2

    def heat(self, x):
        a = self.s2(x * (1.0 / 255.0))
        b = self.s3(a)
        c = self.s4(b)
        d = self.s5(c)
        c = self.f4(torch.cat([c, self.up(d)], 1))
        b = self.f3(torch.cat([b, self.up(c)], 1))
        return self.f2(torch.cat([a, self.up(b)], 1))      # N, 4, 32, 64 logits

    def forward(self, x):
        h = self.heat(x)
        p = torch.softmax(h.reshape(h.shape[0], 4, -1), 2)
        return torch.matmul(p, self.grid).reshape(h.shape[0], 8)


class PlateDetector(nn.Module):
    """320x320 scene -> one row per cell of a 20x20 grid:
    (class 0, score, x1, y1, x2, y2), corners normalised to the scene."""

    def __init__(self, size=320, stride=16):
        super().__init__()
        self.grid = size // stride
        self.body = nn.Sequential(
            nn.AvgPool2d(2),          # 160
            conv_bn(3, 16, 3, 2),     # 80
            conv_bn(16, 32, 3, 2),    # 40
            conv_bn(32, 32, 3, 1),
            conv_bn(32, 64, 3, 2),    # 20
            conv_bn(64, 64, 3, 1),
            conv_bn(64, 64, 3, 1),
        )
        self.ctx = nn.Sequential(nn.MaxPool2d(2), conv_bn(64, 64, 3, 1))  # 10x10 context
        self.up = nn.Upsample(scale_factor=2, mode="nearest")
        self.head = nn.Sequential(conv_bn(128, 64, 3, 1), nn.Conv2d(64, 5, 1))
        g = self.grid
        ys, xs = torch.meshgrid(torch.arange(g, dtype=torch.float32), torch.arange(g, dtype=torch.float32),
                                indexing="ij")
        self.register_buffer("cell_x", xs.reshape(1, 1, g, g).clone())
        self.register_buffer("cell_y", ys.reshape(1, 1, g, g).clone())

    def raw(self, x):
        f = self.body(x * (1.0 / 255.0))
        f = torch.cat([f, self.up(self.ctx(f))], 1)
        return self.head(f)  # N, 5, g, g: score logit, cx, cy offsets, log w, log h

    def decode(self, r):
        g = float(self.grid)
        score = torch.sigmoid(r[:, 0:1])
        cx = (self.cell_x + torch.sigmoid(r[:, 1:2]) * 2.0 - 0.5) / g
        cy = (self.cell_y + torch.sigmoid(r[:, 2:3]) * 2.0 - 0.5) / g
        bw = torch.exp(torch.clamp(r[:, 3:4], -6.0, 3.0)) / g
        bh = torch.exp(torch.clamp(r[:, 4:5], -6.0, 3.0)) / g
        x1 = torch.clamp(cx - bw * 0.5, 0.0, 1.0)
        y1 = torch.clamp(cy - bh * 0.5, 0.0, 1.0)
        x2 = torch.clamp(cx + bw * 0.5, 0.0, 1.0)
        y2 = torch.clamp(cy + bh * 0.5, 0.0, 1.0)
        cls = score * 0.0
        rows = torch.cat([cls, score, x1, y1, x2, y2], 1)        # N, 6, g, g
        return rows.permute(0, 2, 3, 1).reshape(1, -1, 6)        # 1, g*g, 6

    def forward(self, x):
        return self.decode(self.raw(x))


class TextDetector(nn.Module):
    """640x640 stretched plate -> 1x1x80x80 text probability map.  The
    input is pooled to 160x160 first; text lines on a plate are large."""

    def __init__(self):
        super().__init__()
        self.stem = nn.Sequential(nn.AvgPool2d(4), conv_bn(3, 16, 3, 2), conv_bn(16, 24, 3, 1))   # 80
        self.down = nn.Sequential(conv_bn(24, 48, 3, 2), conv_bn(48, 48, 3, 1), conv_bn(48, 48, 3, 1))  # 40
        self.up = nn.Upsample(scale_factor=2, mode="nearest")
        self.fuse = nn.Sequential(conv_bn(24 + 48, 16, 1, 1), nn.Conv2d(16, 1, 3, 1, 1))

    def logits(self, x):
        s = self.stem(x * (1.0 / 255.0))
        return self.fuse(torch.cat([s, self.up(self.down(s))], 1))

    def forward(self, x):
        return torch.sigmoid(self.logits(x))

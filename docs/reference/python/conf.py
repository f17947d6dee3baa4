"""Sphinx configuration of the Python reference of the krm package, built
from its docstrings by scripts/docs (the built package on PYTHONPATH)."""
import os

import krm

project = "krm"
author = "KRM Commander"
version = release = os.environ.get("KRM_VERSION", krm.__version__)
extensions = ["sphinx.ext.autodoc"]
autodoc_default_options = {"members": True, "undoc-members": True, "show-inheritance": True}
autodoc_member_order = "bysource"
autodoc_typehints = "signature"
html_theme = "basic"
html_copy_source = False
html_show_sourcelink = False
html_last_updated_fmt = None
# The reference is one page each for krm and krm.aio: no search index.
html_use_index = True

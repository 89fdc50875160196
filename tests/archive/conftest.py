import os
import sys

# The tests share small archive builders kept beside them.
sys.path.insert(0, os.path.dirname(__file__))

import js from '@eslint/js';
import globals from 'globals';

export default [
  { ignores: ['node_modules/', '.data/'] },
  js.configs.recommended,
  {
    languageOptions: {
      ecmaVersion: 'latest',
      sourceType: 'module',
      globals: globals.node,
    },
    rules: {
      // `for (const _ of text)` counts code points; `{ dropped, ...kept }` leaves a field out.
      'no-unused-vars': ['error', { varsIgnorePattern: '^_$', ignoreRestSiblings: true }],
    },
  },
];

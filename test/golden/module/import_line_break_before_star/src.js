import
  * as ns from 'ns';
